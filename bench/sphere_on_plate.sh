#!/usr/bin/env bash
# The sphere-on-plate contact run (scripts/make_sphere_plate.py: a
# 30,000-triangle sphere dropped onto a 29,000-triangle plate, 0.1 s, the
# example settings), timed with two batch programs in one run, interleaved:
#
#   bench/sphere_on_plate.sh OLD_BATCH NEW_BATCH [ROUNDS]
#
# Friction is set to the sign law (stiction_speed 0, stick_stiffness 0), the
# only law an older program may know: both programs then compute the same
# motion, and NEW's result files must be OLD's, byte for byte.
#
# Per round: OLD and NEW on 1 thread, NEW on 2 threads, then NEW on 1 and 2
# threads again while a child process spins on one core. Prints wall and CPU
# seconds (user + system) of every run, then each ratio as the median of the
# rounds' ratios (runs of one round are seconds apart, so the host's drift
# in speed, which is large on shared machines, mostly cancels) and as the
# ratio of the best times, and whether every result file is OLD's. The
# spinning child is started and stopped here. Nothing is asserted.
set -uo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 OLD_BATCH NEW_BATCH [ROUNDS]" >&2
  exit 2
fi
old=$(readlink -f "$1")
new=$(readlink -f "$2")
rounds=${3:-1}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvaldyn_sphere_plate.XXXXXX")
spin=""
cleanup() {
  if [ -n "$spin" ]; then kill "$spin" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
for t in 1 2; do
  /usr/bin/python3 "$here/scripts/make_sphere_plate.py" "$work/t$t" "$t"
  printf 'stiction_speed 0\nstick_stiffness 0\n' >> "$work/t$t/setting/setting.txt"
done

declare -A best times
run() {  # LABEL BIN THREADS
  local dir=$work/t$3 start end cpu
  rm -rf "$dir/log" && mkdir "$dir/log"
  start=$(date +%s.%N)
  cpu=$( { /usr/bin/time -f '%U %S' bash -c 'cd "$1" && exec "$2" model.txt > console.out 2>&1' _ "$dir" "$2"; } 2>&1 |
    awk '{ print $1 + $2 }')
  end=$(date +%s.%N)
  local wall
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  printf '%-26s wall %8.3f s  cpu %8.3f s\n' "$1" "$wall" "$cpu"
  times[$1]="${times[$1]:-} $wall"
  if [ -z "${best[$1]:-}" ] || awk -v a="$wall" -v b="${best[$1]}" 'BEGIN { exit !(a < b) }'; then
    best[$1]=$wall
  fi
  rm -rf "$work/out_$1" && mv "$dir/log" "$work/out_$1"
}

for ((r = 0; r < rounds; r++)); do
  run old_1 "$old" 1
  run new_1 "$new" 1
  run new_2 "$new" 2
  bash -c 'while :; do :; done' &
  spin=$!
  run busy_new_1 "$new" 1
  run busy_new_2 "$new" 2
  kill "$spin"
  wait "$spin" 2>/dev/null
  spin=""
done
# LABEL A B: A's time over B's, the median over the rounds and the best times'.
ratio() {
  awk -v l="$1" -v a="${times[$2]}" -v b="${times[$3]}" -v ba="${best[$2]}" -v bb="${best[$3]}" '
    BEGIN {
      n = split(a, x, " "); split(b, y, " ")
      for (i = 1; i <= n; i++) r[i] = x[i] / y[i]
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (r[j] < r[i]) { t = r[i]; r[i] = r[j]; r[j] = t }
      m = n % 2 ? r[(n + 1) / 2] : (r[n / 2] + r[n / 2 + 1]) / 2
      printf "%-44s %6.2f %6.2f\n", l, m, ba / bb
    }'
}
echo "ratios: median of the rounds, of the best times"
ratio "old 1 thread / new 1 thread" old_1 new_1
ratio "new 1 thread / new 2 threads" new_1 new_2
ratio "core busy: new 2 threads / new 1 thread" busy_new_2 busy_new_1
for o in new_1 new_2 busy_new_1 busy_new_2; do
  if diff -rq "$work/out_old_1" "$work/out_$o" > /dev/null; then echo "$o: results identical"; else echo "$o: results DIFFER"; fi
done
