#!/usr/bin/env bash
# Runs every example model with two batch programs, each in a fresh copy of
# the examples folder, and compares what they wrote: every file under log/
# byte for byte, and the console text with the wall-clock line masked.
#
#   scripts/compare_examples.sh OLD_BATCH NEW_BATCH [EXAMPLES_DIR]
#
# Prints one line per model and exits 1 when anything differs.
set -uo pipefail
old=$(readlink -f "$1")
new=$(readlink -f "$2")
examples=$(readlink -f "${3:-$(dirname "$0")/../examples}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # BIN DIR MODEL
  rm -rf "$2" && cp -r "$examples" "$2" && rm -rf "$2/log" && mkdir "$2/log"
  (cd "$2" && "$1" "$3" > console.out 2>&1; echo "exit $?" >> console.out)
  # The elapsed time of a run is the one line that differs between runs.
  sed -i -E 's/^   [0-9.]+\[s\]$/   <elapsed>[s]/' "$2/console.out"
}

status=0
for model in "$examples"/*.txt; do
  name=$(basename "$model")
  run "$old" "$work/old" "$name"
  run "$new" "$work/new" "$name"
  what=""
  diff -rq "$work/old/log" "$work/new/log" > /dev/null || what+=" log/ differs;"
  cmp -s "$work/old/console.out" "$work/new/console.out" || what+=" console differs;"
  if [ -z "$what" ]; then
    echo "$name: identical ($(ls "$work/new/log" | wc -l) files in log/, $(tail -1 "$work/new/console.out"))"
  else
    echo "$name:$what"
    status=1
  fi
done
exit $status
