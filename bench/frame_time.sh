#!/usr/bin/env bash
# The view's frame time (bench/view_bench.cpp: paintGL and the swap until the
# GL has finished, sphere-on-plate model, 1004 x 587 view) of two builds of
# orvaldyn_view_bench, run in turn on one virtual display:
#
#   bench/frame_time.sh OLD_BENCH NEW_BENCH [ROUNDS]
#
# Prints each run's mean time per frame, the best of each over the rounds and
# their ratio. Nothing is asserted.
set -uo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 OLD_BENCH NEW_BENCH [ROUNDS]" >&2
  exit 2
fi
old=$(readlink -f "$1")
new=$(readlink -f "$2")
rounds=${3:-3}
# One display for all the runs, so that they share what it costs.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  declare -A best
  for ((r = 0; r < $3; r++)); do
    for b in old new; do
      exe=$1; [ $b = new ] && exe=$2
      ms=$("$exe" --benchmark_filter=SpherePlate --benchmark_format=csv 2>/dev/null |
        awk -F, "/BM_FrameSpherePlate/ { print \$3 }")
      printf "%-4s %8.1f ms a frame\n" "$b" "$ms"
      if [ -z "${best[$b]:-}" ] || awk -v a="$ms" -v b="${best[$b]}" "BEGIN { exit !(a < b) }"; then
        best[$b]=$ms
      fi
    done
  done
  awk -v o="${best[old]}" -v n="${best[new]}" \
    "BEGIN { printf \"best: old %.1f ms, new %.1f ms a frame; old / new %.2f\n\", o, n, o / n }"
' _ "$old" "$new" "$rounds"
