#!/usr/bin/env bash
# Runs long open chains of revolution joints through orvaldyn-batch and says
# whether any run reported redundant rows (a chain never repeats a row) and
# how it ended. Two chains of N links (default 1000), each over 0.2 s at
# d_time 0.01 and 0.001:
#   heavy  1 m links of 1 kg, joints listed from the free end to the base
#          (S's pivots fall to ~3e-9 of its diagonal);
#   thin   1 cm links of 1 g (at d_time 0.01 the integration diverges and the
#          energy rule ends the run).
#
#   bench/chain_redundancy.sh PATH/TO/orvaldyn-batch [N]
#
# The runs happen in a scratch directory with a copy of examples/setting.
# Most of a run's time goes into printing the 5N x 6N Jacobian at the start.
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -x "$1" ]; then
  echo "usage: $0 ORVALDYN_BATCH [N]" >&2
  exit 2
fi
bin="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
n=${2:-1000}
examples="$(cd "$(dirname "$0")/../examples" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$examples/setting" "$work/"
cd "$work" || exit 2

# chain NAME LENGTH MASS RADIUS ORDER DT: writes NAME.txt (ORDER "rev" lists
# the joints from the free end to the base).
chain() {
  awk -v n="$n" -v L="$2" -v mm="$3" -v r="$4" -v order="$5" -v dt="$6" 'BEGIN {
    ixx = mm * r * r / 2; izz = mm * L * L / 12
    print "parameter_info P %"
    print "body_info B ground ground_cg 1 1 1 1 0 0 0 0 0 0"
    for (i = 0; i < n; i++) printf "l%d c%d %g %g %g %g 0 0 0 0 0 0\n", i, i, mm, ixx, izz, izz
    print "%"
    print "frame_info F ground_cg ground 0 0 0 0 0 0"
    for (i = 0; i < n; i++) {
      printf "c%d l%d %.10g 0 0 0 0 0\n", i, i, (i + 0.5) * L
      printf "a%d l%d %.10g 0 0 0 0 0\n", i, i, i * L
      printf "b%d %s %.10g 0 0 0 0 0\n", i, (i == 0 ? "ground" : "l" (i - 1)), i * L
    }
    print "%"
    print "joint_info J"
    if (order != "rev") print "on fix_ground ground ground_cg non"
    for (k = 0; k < n; k++) { i = order == "rev" ? n - 1 - k : k; printf "on h%d revolution a%d b%d\n", i, i, i }
    if (order == "rev") print "on fix_ground ground ground_cg non"
    print "%"
    print "gravity G on y- %"
    printf "simulation_time T 0 %s 0.2 %%\n", dt
  }' > "$1.txt"
}

printf "%-22s %5s %10s %9s  %s\n" "model" "exit" "samples" "wall[s]" "redundancy reported"
for chainArgs in "heavy 1 1 0.02 rev" "thin 0.01 0.001 0.001 fwd"; do
  set -- $chainArgs
  for dt in 0.01 0.001; do
    name="${1}_${n}_dt${dt}"
    chain "$name" "$2" "$3" "$4" "$5" "$dt"
    t0=$(date +%s.%N)
    "$bin" "$name.txt" > "$name.console" 2> "$name.err"
    rc=$?
    t1=$(date +%s.%N)
    samples=$(grep -a -m1 "anime_num=" "$name.console" | sed 's/.*=//')
    red=$(grep -a -c "^Redundant constraints" "$name.console")
    printf "%-22s %5s %10s %9.1f  %s\n" "$name" "$rc" "${samples:-?}" "$(echo "$t1 - $t0" | bc)" \
      "$([ "$red" = 0 ] && echo none || echo "$red reports")"
    grep -a -A3 "^Redundant constraints" "$name.console" | head -8
    [ -s "$name.err" ] && sed 's/^/    /' "$name.err"
  done
done
