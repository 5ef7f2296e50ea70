#!/usr/bin/env bash
# The built libgstvelmora.so in GStreamer's own tools: gst-inspect-1.0 finds the element, and
# gst-launch-1.0 filters videotestsrc's moving ball with snow blended over it, in 8 and 10 bits,
# every frame and much closer to the ball with a flat grey blended the same way.
#   launch_test.sh PLUGIN_DIR
set -uo pipefail
exec </dev/null
export GST_PLUGIN_PATH=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export GST_REGISTRY=$work/registry.bin
failed=0
bad() { echo "FAIL $*"; failed=1; }

gst-inspect-1.0 velmora >inspect.txt 2>&1 || bad "gst-inspect-1.0 does not find velmora"
for word in I420_10LE GRAY16_LE temporal-radius noise-y controllable "$GST_PLUGIN_PATH/libgstvelmora.so"; do
  grep -qF -- "$word" inspect.txt || bad "gst-inspect-1.0 velmora does not show $word"
done

N=12 W=176 H=144
# layer PATTERN: the ball with PATTERN blended over it at 8 %, in the caps $caps, to OUT.
layer() {
  echo "compositor name=mix sink_1::alpha=0.08 ! videoconvert ! $caps ! $2" \
       "videotestsrc num-buffers=$N pattern=ball ! video/x-raw,width=$W,height=$H,framerate=25/1 ! mix." \
       "videotestsrc num-buffers=$N $1 ! video/x-raw,width=$W,height=$H,framerate=25/1 ! mix."
}
for format in I420 I420_10LE; do
  caps="video/x-raw,format=$format"
  # shellcheck disable=SC2046
  gst-launch-1.0 -q $(layer "pattern=solid-color foreground-color=0xff808080" \
                       "filesink location=clean.yuv") || bad "$format: the clean pipeline fails"
  # shellcheck disable=SC2046
  gst-launch-1.0 -q $(layer pattern=snow "tee name=t ! queue ! filesink location=noisy.yuv \
                       t. ! queue ! velmora ! filesink location=out.yuv") ||
    bad "$format: the pipeline through velmora fails"
  # The mean squared errors against the clean frames, and the frames each file holds.
  read -r frames noisy out < <(python3 - "$format" $W $H <<'PY'
import sys
from array import array
fmt, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
code = "H" if fmt.endswith("10LE") else "B"
def load(name):
    a = array(code)
    with open(name, "rb") as f:
        a.frombytes(f.read())
    return a
clean, noisy, out = load("clean.yuv"), load("noisy.yuv"), load("out.yuv")
mse = lambda a: sum((x - y) ** 2 for x, y in zip(a, clean)) / len(clean)
print(len(out) * 2 // (w * h * 3), round(mse(noisy), 3), round(mse(out), 3))
PY
)
  echo "$format: $frames frames, mean squared error $noisy noisy, $out filtered"
  [ "$frames" = $N ] && [ "$(stat -c %s clean.yuv)" = "$(stat -c %s out.yuv)" ] ||
    bad "$format: $frames frames came out of $N"
  awk -v a="$out" -v b="$noisy" 'BEGIN { exit !(a < 0.5 * b) }' ||
    bad "$format: filtered error $out is not below half the noisy $noisy"
done
[ $failed = 0 ] && echo "gst-inspect-1.0 and gst-launch-1.0 run velmora"
exit $failed
