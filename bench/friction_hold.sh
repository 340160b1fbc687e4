#!/usr/bin/env bash
# How well friction holds the box of ramp_stay.txt (slope 0.3, myu 0.5) and
# what it costs: the example run for 11.2 s under the law of STICTION_SPEED
# (sliding_speed twice that) with stiction anchors of STICK_STIFFNESS, in a
# copy of examples/.
#
#   bench/friction_hold.sh BATCH [STICTION_SPEED [STICK_STIFFNESS]]
#
# The box settles by 0.2 s. With the law alone (STICK_STIFFNESS 0, the
# default here) it then creeps at the speed where the law balances the
# slope, about 0.43 STICTION_SPEED. Prints the wall and CPU seconds of the
# run and how far the box moved from 0.2 s to 1.2 s and from 1.2 s to
# 11.2 s. At 2e-6 both stay below 1e-5 m (9.0e-7 and 8.5e-6 m), at about
# 450 times the CPU time of the default 1e-3 (719 s against 1.6 s on a
# shared 2-core machine). With the anchors of the shipped settings
# (1e-3 1) the result file's digits show no movement at all, in 0.2 s of
# CPU time (the tests measure below 1e-13 m). Nothing is asserted.
set -uo pipefail
if [ $# -lt 1 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BATCH [STICTION_SPEED [STICK_STIFFNESS]]" >&2
  exit 2
fi
batch=$(readlink -f "$1")
vs=${2:-2e-6}
stick=${3:-0}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvaldyn_friction_hold.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$here/examples/." "$work/" && rm -rf "$work/log" && mkdir "$work/log"
vd=$(awk -v v="$vs" 'BEGIN { printf "%.6g", 2 * v }')
sed -i -E "s/^stiction_speed .*/stiction_speed $vs/; s/^sliding_speed .*/sliding_speed $vd/; \
  s/^stick_stiffness .*/stick_stiffness $stick/" \
  "$work/setting/setting.txt"
sed -E 's/^simulation_time .*/simulation_time  start_step_end  0.0  0.001  11.2  %/' \
  "$here/examples/ramp_stay.txt" > "$work/ramp_hold.txt"

start=$(date +%s.%N)
cpu=$( { /usr/bin/time -f '%U %S' bash -c 'cd "$1" && exec "$2" ramp_hold.txt > console.out 2>&1' \
  _ "$work" "$batch"; } 2>&1 | awk '{ print $1 + $2 }')
end=$(date +%s.%N)
printf 'stiction_speed %s, stick_stiffness %s: wall %.1f s  cpu %.1f s\n' "$vs" "$stick" "$(awk -v a="$start" -v b="$end" \
  'BEGIN { print b - a }')" "$cpu"

# The first of the four output channels, `along`, at samples 200, 1200 and 11200.
/usr/bin/python3 - "$work/log/result_ramp_hold.txt" <<'EOF'
import sys
tokens = open(sys.argv[1]).read().split()
start = tokens.index("output") + 1
rows = tokens[start:tokens.index("%", start)]
along = [float(v) for v in rows[::4]]
if len(along) < 11201:
    sys.exit("the run stopped after %d samples" % len(along))
print("moved 0.2 s to 1.2 s:  %.3e m" % abs(along[1200] - along[200]))
print("moved 1.2 s to 11.2 s: %.3e m" % abs(along[11200] - along[1200]))
EOF
