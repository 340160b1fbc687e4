#!/usr/bin/env bash
# The benchmark models of examples/benchmarks at full length, run with both
# integrators side by side in one run, timed:
#
#   bench/stiff_benchmarks.sh PATH/TO/orvaldyn-batch [full]
#
# Andrews' squeezer (0.03 s): RK4 at d_time 5e-5 s, the implicit method at
# d_time 1e-3 s (its steps follow its error); the largest error against the
# published angles at t = 0.03 s. The flyball governor (10 s): RK4 at
# 2.5e-4 s, the largest step on the way to the samples below the stable step
# the program names (2.7e-4 s), the implicit method at 1e-3 s; sleeve height
# and spin against RK4 at 1.25e-4 s, at every sample. The N-four-bar with
# N = 2 (20 s, bench/n_four_bar.py): both at 1e-3 s against the exact motion;
# with `full`, N = 40 too (the implicit run takes a quarter of an hour).
# Each line gives the CPU seconds (user + system) per simulated second; each
# model ends with the ratio implicit / RK4. The runs take the settings of
# examples/benchmarks (constraint projection on) and run in a scratch copy;
# nothing is asserted.
set -uo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 ORVALDYN_BATCH [full]" >&2
  exit 2
fi
bin=$(readlink -f "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvaldyn_stiff.XXXXXX")
trap 'rm -rf "$work"' EXIT

run() {  # MODEL STEP END EVERY NAME INTEGRATOR: prints CPU seconds, leaves NAME.csv
  mkdir -p "$work/$5/log" && cp -r "$here/examples/benchmarks/setting" "$work/$5/"
  echo "INTEGRATOR                     $6" >> "$work/$5/setting/setting.txt"
  sed -E "s/^simulation_time.*/simulation_time  t  0.0  $2  $3  $4  %/" \
    "$here/examples/benchmarks/$1" > "$work/$5/model.txt"
  (cd "$work/$5" && /usr/bin/time -f "%U %S" -o time "$bin" --csv ../"$5.csv" model.txt > out 2>&1)
  awk '{print $1 + $2}' "$work/$5/time"
}

ratio() { awk -v a="$1" -v b="$2" -v what="$3" 'BEGIN { printf "  %s: implicit / RK4 CPU = %.2f\n", what, a / b }'; }

rk=$(run andrews_squeezer.txt 5e-5 0.03 30 a_rk runge_kutta4)
im=$(run andrews_squeezer.txt 1e-3 0.03 1 a_im implicit)
for x in "a_rk runge_kutta4 5e-5 $rk" "a_im implicit 1e-3 $im"; do
  set -- $x
  /usr/bin/python3 - "$work/$1.csv" "$2" "$3" "$4" <<'PY'
import csv, sys
ref = [15.81077119629904, -15.75637105984298, 0.04082224013073101, -0.5347301163226948,
       0.5244099658805304, 0.5347301163226948, 1.048080741042263]
last = list(csv.reader(open(sys.argv[1])))[-1]
err = max(abs(float(v) - r) for v, r in zip(last[1:8], ref))
print(f"andrews  {sys.argv[2]:12s} d_time={sys.argv[3]:6s} t={float(last[0]):.4f}  max error "
      f"{err:.2e} rad  CPU {float(sys.argv[4]) / 0.03:.3f} s per simulated s")
PY
done
ratio "$im" "$rk" andrews

run flyball_governor.txt 1.25e-4 10.0 80 f_ref runge_kutta4 > /dev/null
rk=$(run flyball_governor.txt 2.5e-4 10.0 40 f_rk runge_kutta4)
im=$(run flyball_governor.txt 1e-3 10.0 10 f_im implicit)
for x in "f_rk runge_kutta4 2.5e-4 $rk" "f_im implicit 1e-3 $im"; do
  set -- $x
  /usr/bin/python3 - "$work/$1.csv" "$work/f_ref.csv" "$2" "$3" "$4" <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1])))[1:]
ref = {round(float(r[0]), 6): r for r in list(csv.reader(open(sys.argv[2])))[1:]}
h = max(abs(float(r[1]) - float(ref[round(float(r[0]), 6)][1])) for r in rows)
s = max(abs(float(r[2]) / float(ref[round(float(r[0]), 6)][2]) - 1) for r in rows)
print(f"flyball  {sys.argv[3]:12s} d_time={sys.argv[4]:6s} t={float(rows[-1][0]):.2f}  "
      f"height within {h:.1e} m, spin within {s:.1e} (relative) of RK4 at 1.25e-4 s  "
      f"CPU {float(sys.argv[5]) / 10.0:.3f} s per simulated s")
PY
done
ratio "$im" "$rk" flyball

sizes="2"
if [ "${2:-}" = full ]; then sizes="2 40"; fi
for n in $sizes; do
  for integ in runge_kutta4 implicit; do
    line=$(/usr/bin/python3 "$here/bench/n_four_bar.py" "$bin" "$n" 1e-3 20 on "$integ")
    echo "n-4-bar  $line"
    cpu=$(echo "$line" | sed -E 's/.*CPU ([0-9.]+) s.*/\1/')
    if [ "$integ" = runge_kutta4 ]; then rk=$cpu; else im=$cpu; fi
  done
  ratio "$im" "$rk" "N-four-bar N=$n"
done
