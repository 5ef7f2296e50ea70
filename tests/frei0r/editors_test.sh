#!/usr/bin/env bash
# The editors' panels for velmora.so (frei0r/editors): every parameter Kdenlive's effect
# description and Shotcut's filter name is one melt lists for the filter, every one melt lists
# is in both, with Kdenlive's ranges and defaults; `cmake --install` puts them where the editors
# look; and a project file with the filter at Kdenlive's defaults renders through melt much
# closer to the clean clip.
#   editors_test.sh VELMORA_FREI0R_RUN PLUGIN_DIR VELMORA_SAMPLE BUILD_DIR EDITORS_DIR
RUN=$(realpath "$1") PLUGIN_DIR=$(realpath "$2") SAMPLE=$(realpath "$3") BUILD=$(realpath "$4")
EDITORS=$(realpath "$5")
source "$(dirname "$0")/host_common.sh"
export SDL_AUDIODRIVER=dummy
unset DISPLAY

melt -query filter=frei0r.velmora >query.txt 2>/dev/null
# Each check on a line of its own: "ok WHAT" or "FAIL WHAT".
python3 - "$EDITORS" query.txt >names.txt <<'PY'
import re, sys, xml.etree.ElementTree as ET
editors, query = sys.argv[1], open(sys.argv[2]).read()
melt = {}
for block in query.split("  - identifier:")[1:]:
    fields = dict(re.findall(r"^    (\w+): (.*)$", block, re.M))
    melt[fields["title"]] = fields
def say(good, what): print(("ok " if good else "FAIL ") + what)
say(len(melt) == 4, f"melt lists the filter's parameters: {sorted(melt)}")
effect = ET.parse(f"{editors}/velmora.xml").getroot()
say(effect.get("tag") == effect.get("id") == "frei0r.velmora", "Kdenlive: the effect is frei0r.velmora")
kdenlive = {p.get("name"): p for p in effect.iter("parameter")}
ui = open(f"{editors}/shotcut/ui.qml").read()
meta = open(f"{editors}/shotcut/meta.qml").read()
say('mlt_service: "frei0r.velmora"' in meta and 'qml: "ui.qml"' in meta, "Shotcut: the filter is frei0r.velmora")
shotcut = set(re.findall(r'filter\.(?:set|get|getDouble)\("(\w+)"', ui))
defaults = dict(re.findall(r'"(\w+)": "?([\w.]+)', re.search(r"defaults: (\{.*\})", ui).group(1)))
shotcut |= set(defaults)
say(set(kdenlive) == set(melt), f"Kdenlive's parameters are melt's: {sorted(kdenlive)}")
say(shotcut == set(melt), f"Shotcut's parameters are melt's: {sorted(shotcut)}")
for name, value in defaults.items():
    theirs = melt.get(name, {}).get("default", "")
    say(value == theirs or float(value) == float(theirs), f"Shotcut's {name} default {value} is melt's {theirs}")
for name, p in kdenlive.items():
    m = melt.get(name, {})
    for attr, key in (("default", "default"), ("min", "minimum"), ("max", "maximum")):
        if p.get(attr) is not None or key == "default":
            mine, theirs = p.get(attr), m.get(key, "").strip('"')
            same = mine == theirs or (mine and theirs and float(mine) == float(theirs))
            say(same, f"Kdenlive's {name} {attr} {mine} is melt's {theirs}")
PY
while read -r verdict what; do
  if [ "$verdict" = ok ]; then ok "$what"; else bad "$what"; fi
done <names.txt
check "the names were checked" [ "$(wc -l <names.txt)" -ge 16 ]

q cmake --install "$BUILD" --prefix "$work/prefix" --component frei0r >/dev/null
for file in lib/frei0r-1/velmora.so share/kdenlive/effects/velmora.xml \
            share/shotcut/qml/filters/velmora/meta.qml share/shotcut/qml/filters/velmora/ui.qml; do
  check "installed: $file" [ -s "prefix/$file" ]
done

# A project as Kdenlive saves it: the clip, and the effect with its description's defaults.
N=8
for sigma in 0 8; do
  $SAMPLE --image "$PICTURES/astronaut.png" --size 256x256 --colour 444 --frames $N \
    --sigma $sigma s$sigma.y4m
  q ffmpeg -hide_banner -nostdin -v error -y -i s$sigma.y4m -c:v ffv1 s$sigma.mkv
done
defaults=$(python3 - "$EDITORS/velmora.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
for p in ET.parse(sys.argv[1]).getroot().iter("parameter"):
    print(f'<property name="{p.get("name")}">{p.get("default")}</property>')
PY
)
cat >project.mlt <<XML
<?xml version="1.0" encoding="utf-8"?>
<mlt LC_NUMERIC="C" version="7.12.0" producer="main_bin">
  <profile description="256x256" width="256" height="256" progressive="1" sample_aspect_num="1"
           sample_aspect_den="1" display_aspect_num="1" display_aspect_den="1" frame_rate_num="25"
           frame_rate_den="1" colorspace="709"/>
  <producer id="clip" in="0" out="$((N - 1))">
    <property name="resource">$work/s8.mkv</property>
    <filter id="denoise">
      <property name="mlt_service">frei0r.velmora</property>
      <property name="kdenlive_id">frei0r.velmora</property>
      $defaults
    </filter>
  </producer>
  <playlist id="main"><entry producer="clip" in="0" out="$((N - 1))"/></playlist>
  <tractor id="timeline"><track producer="main"/></tractor>
</mlt>
XML
melt_render out.rgba 2 project.mlt
melt_render noisy.rgba 2 s8.mkv
melt_render clean.rgba 2 s0.mkv
check "the project renders $N frames" [ "$(frames out.rgba 256 256)" = $N ]
before=$(psnr clean.rgba noisy.rgba) after=$(psnr clean.rgba out.rgba)
echo "PSNR against the clean clip (R, G, B): noisy $before dB, the project's render $after dB"
check "the project's render is at least 4 dB closer to the clean clip" \
  awk -v a="$after" -v b="$before" 'BEGIN { exit !(a >= b + 4) }'
finish || { cat melt.log; false; }
