# Shared by the host tests: a scratch folder, the checks and their count, and the reference.
#   RUN: velmora-frei0r-run; PLUGIN_DIR: the folder holding only velmora.so
set -uo pipefail
# The hosts read standard input (melt takes key commands from it); CI may run with none open.
exec </dev/null
PLUGIN=$PLUGIN_DIR/velmora.so
PICTURES=/usr/lib/python3/dist-packages/skimage/data   # python3-skimage
export FREI0R_PATH=$PLUGIN_DIR
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0
failed=0
ok() { echo "ok   $*"; passed=$((passed + 1)); }
bad() { echo "FAIL $*"; failed=$((failed + 1)); }
check() {  # check WHAT COMMAND...: ok when the command succeeds
  local what=$1; shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
finish() { echo "$passed passed, $failed failed"; [ "$failed" = 0 ]; }
q() { nice -n 5 "$@"; }

# same A B WHAT: byte-identical, and not empty
same() {
  if [ -s "$1" ] && cmp -s "$1" "$2"; then ok "$3"; else bad "$3: $("$RUN" --compare "$1" "$2")"; fi
}
# differ A B WHAT: the same size, other bytes
differ() {
  if [ -s "$1" ] && [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] && ! cmp -s "$1" "$2"; then
    ok "$3"; else bad "$3"; fi
}
# frames FILE W H: the number of whole RGBA frames in FILE
frames() { echo $(( $(stat -c %s "$1" 2>/dev/null || echo 0) / ($2 * $3 * 4) )); }
# psnr A B: PSNR over R, G and B
psnr() { "$RUN" --compare "$1" "$2" | awk '{print $2}'; }
# reference SIZE IN OUT "SETTINGS" ["SETTINGS"...]: the frames through one instance per
# SETTINGS in turn, each alone in its own process, one call at a time.
reference() {
  local size=$1 in=$2 out=$3 stage=0 current=$2; shift 3
  for settings in "$@"; do
    stage=$((stage + 1))
    # shellcheck disable=SC2086
    q "$RUN" "$PLUGIN" "$size" "$current" "$out.$stage" $settings || return 1
    current=$out.$stage
  done
  mv "$current" "$out"
  rm -f "$out".[0-9]*
}
# melt 7.12 on a loaded machine now and then never ends a render (seen twice in some hundred
# renders, a few seconds each otherwise), or ends it at once with success and an empty file (one
# render in eight or so when several run at once), with or without a filter in the chain: a
# render that has not ended in 90 seconds or wrote nothing is said and made again, twice at most.
#   melt_render OUT THREADS MELT_ARGUMENT...: raw RGBA frames, THREADS rendering threads
#   (real_time=-THREADS: none dropped)
melt_render() {
  local out=$1 threads=$2 attempt status; shift 2
  for attempt in 1 2 3; do
    rm -f "$out"
    q timeout 90 melt -silent "$@" -consumer "avformat:$out" f=rawvideo pix_fmt=rgba an=1 \
      real_time=-"$threads" >/dev/null 2>>melt.log
    status=$?
    if [ $status = 124 ]; then
      echo "note melt did not end rendering $out in 90 s (attempt $attempt)"
    elif [ ! -s "$out" ]; then
      echo "note melt wrote nothing rendering $out (exit $status, attempt $attempt)"
    else
      return 0
    fi
  done
}
