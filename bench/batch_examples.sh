#!/usr/bin/env bash
# Times orvaldyn-batch on every example model and prints a table of wall
# times: read, analysis, result file and the program's three 0.1 s pauses at
# the end of a run, as a user waits for them. The integration alone, as the
# program itself reports it after "Simulation End", is the last column (of
# the last run).
#
#   bench/batch_examples.sh PATH/TO/orvaldyn-batch [RUNS]
#
# Each model runs RUNS times (default 1); the table gives the best, mean and
# worst wall time and the samples stored. The runs happen in a scratch
# directory holding a copy of examples/setting, so no result file lands in
# examples/log and several benchmarks may run at once. Nothing is asserted: a
# run that exits non-zero is listed with its exit code.
set -uo pipefail

usage() {
  echo "usage: $0 ORVALDYN_BATCH [RUNS]" >&2
  exit 2
}
if [ $# -lt 1 ] || [ $# -gt 2 ]; then usage; fi
bin=$1
runs=${2:-1}
case $runs in '' | *[!0-9]* | 0*) usage ;; esac
if [ ! -f "$bin" ] || [ ! -x "$bin" ]; then
  echo "$0: $bin is not an executable file" >&2
  exit 2
fi
bin="$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")"
examples="$(cd "$(dirname "$0")/../examples" && pwd)"

work="$(mktemp -d "${TMPDIR:-/tmp}/orvaldyn_batch_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp -r "$examples/setting" "$work/"

now() { date +%s.%N; }

printf '%-22s %5s %8s %10s %10s %10s %11s\n' model exit samples best_s mean_s worst_s integrate_s
for model in "$examples"/*.txt; do
  name="$(basename "$model" .txt)"
  times=()
  code=0
  for ((i = 0; i < runs; i++)); do
    t0=$(now)
    (cd "$work" && exec "$bin" "$model") >"$work/console.txt" 2>&1
    code=$?
    t1=$(now)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')")
    [ "$code" -eq 0 ] || break  # a failing model is timed once
  done
  samples="$(grep -o 'anime_num=[0-9]*' "$work/console.txt" | tail -n 1 | cut -d= -f2)"
  integrate="$(awk '/^Simulation End/ { getline; gsub(/[][ s]/, ""); v = $0 } END { print v }' \
    "$work/console.txt")"
  printf '%s\n' "${times[@]}" |
    awk -v n="$name" -v c="$code" -v s="${samples:--}" -v g="${integrate:--}" '
      { t = $1 + 0; sum += t; if (NR == 1 || t < lo) lo = t; if (NR == 1 || t > hi) hi = t }
      END { printf "%-22s %5d %8s %10.3f %10.3f %10.3f %11s\n", n, c, s, lo, sum / NR, hi, g }'
done
