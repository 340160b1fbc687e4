#!/usr/bin/env bash
# The benchmark models of examples/benchmarks at full length, timed:
#
#   bench/stiff_benchmarks.sh PATH/TO/orvaldyn-batch [implicit]
#
# With `implicit` the runs use the setting INTEGRATOR implicit, the flyball
# at 1e-3 s as well.
#
# Andrews' squeezer (0.03 s) at d_time 5e-5 and 2.5e-5 s: its largest error
# against the published angles at t = 0.03 s. The flyball governor (10 s) at
# 5e-4, 2.5e-4 and 1.25e-4 s: sleeve height and spin at the end, against the
# run at the smallest step. The runs take the settings of examples/benchmarks
# (constraint projection on, which keeps the flyball's hinges). Each line gives the CPU seconds (user + system)
# per simulated second. Runs in a scratch copy of examples/; nothing is
# asserted.
set -uo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 ORVALDYN_BATCH [implicit]" >&2
  exit 2
fi
bin=$(readlink -f "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvaldyn_stiff.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$here/examples/benchmarks/setting" "$work/" && mkdir -p "$work/log"
steps="1.25e-4:80 2.5e-4:40 5e-4:20"
if [ "${2:-}" = implicit ]; then
  echo "INTEGRATOR                     implicit" >> "$work/setting/setting.txt"
  steps="$steps 1e-3:10"
fi

run() {  # MODEL STEP END EVERY NAME: prints CPU seconds, leaves NAME.csv
  sed -E "s/^simulation_time.*/simulation_time  t  0.0  $2  $3  $4  %/" \
    "$here/examples/benchmarks/$1" > "$work/$5.txt"
  (cd "$work" && /usr/bin/time -f "%U %S" -o "$5.time" "$bin" --csv "$5.csv" "$5.txt" > "$5.out" 2>&1)
  awk '{print $1 + $2}' "$work/$5.time"
}

for h in 5e-5:30 2.5e-5:60; do
  cpu=$(run andrews_squeezer.txt "${h%:*}" 0.03 "${h#*:}" a)
  /usr/bin/python3 - "$work/a.csv" "${h%:*}" "$cpu" <<'PY'
import csv, sys
ref = [15.81077119629904, -15.75637105984298, 0.04082224013073101, -0.5347301163226948,
       0.5244099658805304, 0.5347301163226948, 1.048080741042263]
last = list(csv.reader(open(sys.argv[1])))[-1]
err = max(abs(float(v) - r) for v, r in zip(last[1:8], ref))
print(f"andrews  h={sys.argv[2]:8s} t={float(last[0]):.4f}  max error {err:.2e} rad  "
      f"CPU {float(sys.argv[3]) / 0.03:.2f} s per simulated s")
PY
done

for h in $steps; do
  cpu=$(run flyball_governor.txt "${h%:*}" 10.0 "${h#*:}" "f${h%:*}")
  /usr/bin/python3 - "$work/f${h%:*}.csv" "$work/f1.25e-4.csv" "${h%:*}" "$cpu" <<'PY'
import csv, sys
last = list(csv.reader(open(sys.argv[1])))[-1]
ref = list(csv.reader(open(sys.argv[2])))[-1]
print(f"flyball  h={sys.argv[3]:8s} t={float(last[0]):.2f}  height {float(last[1]):.9f} m "
      f"(vs smallest step {float(last[1]) - float(ref[1]):+.1e})  spin {float(last[2]):.8f} rad/s "
      f"({float(last[2]) - float(ref[2]):+.1e})  CPU {float(sys.argv[4]) / 10.0:.3f} s per simulated s")
PY
done
