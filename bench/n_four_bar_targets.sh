#!/usr/bin/env bash
# The N-four-bar targets in full: N = 2 and N = 40, steps of 1 ms and 0.5 ms,
# 20 s each, checked by bench/n_four_bar.py against the exact motion (tip
# within 1e-3 m at every sample, energy within 1e-3 of its start, no row
# reported redundant during the run). Prints one line per run with the
# error, the energy drift and the CPU time per simulated second; exits 1
# when any run misses a target. MODE off runs the plain solve instead.
#
#   bench/n_four_bar_targets.sh BATCH [on|off]
set -uo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BATCH [on|off]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
status=0
for n in 2 40; do
  for h in 1e-3 5e-4; do
    /usr/bin/python3 "$here/n_four_bar.py" "$1" "$n" "$h" 20 "${2:-on}" || status=1
  done
done
exit $status
