#!/usr/bin/env bash
# Runs every example model with two batch programs, each in a fresh copy of
# the examples folder, and compares what they wrote: every file under log/
# byte for byte, and the console text with the wall-clock line masked. The
# motion import of the examples and the refused and stopped models of
# tests/data/wrong-success are run the same way, so refusals keep their texts.
#
#   scripts/compare_examples.sh OLD_BATCH NEW_BATCH [EXAMPLES_DIR]
#
# Prints one line per run and exits 1 when anything differs. A program from
# before rotation was integrated to first order is matched by a copy of
# examples/ whose setting/setting.txt says ROTATION_INTEGRATION second_order.
# Where results may differ, scripts/result_differences.py says by how much.
set -uo pipefail
old=$(readlink -f "$1")
new=$(readlink -f "$2")
examples=$(readlink -f "${3:-$(dirname "$0")/../examples}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

corpus=$(readlink -f "$(dirname "$0")/../tests/data/wrong-success")

# Both programs run in the same folder, one after the other, so that paths in
# messages are the same; what each wrote is moved to OUT.
run() {  # BIN OUT [MODEL COPIED IN] ARGS...
  local bin=$1 out=$2 extra=$3 dir=$work/run
  shift 3
  rm -rf "$dir" "$out" && cp -r "$examples" "$dir" && rm -rf "$dir/log" && mkdir "$dir/log"
  if [ -n "$extra" ]; then cp "$extra" "$dir/"; fi
  (cd "$dir" && "$bin" "$@" > console.out 2>&1; echo "exit $?" >> console.out)
  # The elapsed time of a run is the one line that differs between runs.
  sed -i -E 's/^   [0-9.]+\[s\]$/   <elapsed>[s]/' "$dir/console.out"
  mkdir "$out" && mv "$dir/log" "$dir/console.out" "$out/"
}

status=0
compare() {  # LABEL [MODEL COPIED IN] ARGS...
  local name=$1
  shift
  run "$old" "$work/old" "$@"
  run "$new" "$work/new" "$@"
  what=""
  diff -rq "$work/old/log" "$work/new/log" > /dev/null || what+=" log/ differs;"
  cmp -s "$work/old/console.out" "$work/new/console.out" || what+=" console differs;"
  if [ -z "$what" ]; then
    echo "$name: identical ($(ls "$work/new/log" | wc -l) files in log/, $(tail -1 "$work/new/console.out"))"
  else
    echo "$name:$what"
    status=1
  fi
}

for model in "$examples"/*.txt; do
  compare "$(basename "$model")" "" "$(basename "$model")"
done
for mov in "$examples"/motion/*.mov; do
  model=$(basename "$mov" .mov).txt
  [ -f "$examples/$model" ] && compare "import $(basename "$mov")" "" --import-mov "motion/$(basename "$mov")" "$model"
done
for model in "$corpus"/*.txt; do
  compare "wrong-success/$(basename "$model")" "$model" "$(basename "$model")"
done
exit $status
