#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, build-fuzz/), seeds their corpora
# from examples/ and tests/data/, and runs each target for SECONDS (default
# 60) one after another, then prints executions and findings per target.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     TARGET: expr model stl bmp settings result motion
#
# Corpora grow in fuzz/corpus-<target>/ (not tracked); crashes, hangs and
# leaks are written to build-fuzz/findings/<target>/. A finding that gets
# fixed belongs in tests/data/fuzz-regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(expr model stl bmp settings result motion)
build=$root/build-fuzz
sep='#@@#'

./scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVALDYN_FUZZ=ON -DORVALDYN_GUI=OFF -DORVALDYN_TESTS=OFF -DORVALDYN_BENCH=OFF >/dev/null
fi
# Two jobs at most, niced: other builds may share the machine.
if ! nice -n 5 cmake --build "$build" -j2 >"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log"
  exit 1
fi

# --- seeds -------------------------------------------------------------------
seed() {  # seed TARGET NAME: stdin becomes fuzz/corpus-TARGET/seed-NAME
  mkdir -p "fuzz/corpus-$1"
  cat >"fuzz/corpus-$1/seed-$2"
}
regressions() {  # earlier findings stay in the corpus
  local d=tests/data/fuzz-regressions/$1 f
  [ -d "$d" ] || return 0
  for f in "$d"/*; do [ -f "$f" ] && seed "$1" "reg-$(basename "$f")" <"$f"; done
  return 0
}
# A 2 x 2 24-bit BMP, smaller than any shipped image.
tiny_bmp() {
  printf 'BM\x48\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00'
  printf '\x02\x00\x00\x00\x02\x00\x00\x00\x01\x00\x18\x00'
  head -c 24 /dev/zero
  printf '\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\xff'
}

for t in "${targets[@]}"; do
  case $t in
  expr)
    # Every expression-like field of the shipped and broken models.
    cat examples/*.txt tests/data/broken/*.txt | tr -s ' \t\r' '\n\n\n' |
      grep -a '[()*/^+]' | grep -av '[%]' | sort -u | head -n 400 |
      while IFS= read -r e; do
        printf '%s' "$e" | seed expr "$(printf '%s' "$e" | md5sum | cut -c1-12)"
      done
    ;;
  model)
    # Each model with its first mesh and image, renamed to the packed names.
    for f in examples/*.txt tests/data/broken/*.txt; do
      stl=$(grep -aoE '[^[:space:]]+\.stl' "$f" | head -n1 || true)
      bmp=$(grep -aoE '[^[:space:]]+\.bmp' "$f" | head -n1 || true)
      d=$(dirname "$f")
      {
        sed -E 's#[^[:space:]]+\.stl#part.stl#g; s#[^[:space:]]+\.bmp#tex.bmp#g' "$f"
        printf '%s' "$sep"
        if [ -n "$stl" ] && [ -f "$d/$stl" ] && [ "$(stat -c %s "$d/$stl")" -le 16384 ]; then
          cat "$d/$stl"
        elif [ -n "$stl" ]; then
          cat examples/meshes/cube.stl
        fi
        printf '%s' "$sep"
        if [ -n "$bmp" ]; then tiny_bmp; fi
      } | seed model "$(basename "$(dirname "$f")")-$(basename "$f")"
    done
    ;;
  stl)
    for f in examples/meshes/*.stl tests/data/broken/*.stl; do
      seed stl "$(basename "$f")" <"$f"
    done
    ;;
  bmp)
    for f in examples/images/*.bmp tests/data/broken/*.bmp; do
      seed bmp "$(basename "$f")" <"$f"
    done
    tiny_bmp | seed bmp tiny.bmp
    ;;
  settings)
    { cat examples/setting/setting.txt; printf '%s' "$sep"; cat examples/setting/color.txt; } |
      seed settings shipped
    ;;
  result)
    tmp=$(mktemp -d)
    "$build/fuzz/fuzz_seeds" "$tmp" >/dev/null
    for f in "$tmp"/log/result_*; do seed result "$(basename "$f")" <"$f"; done
    rm -rf "$tmp"
    ;;
  motion)
    # The shipped double-pendulum motion cut to its first 1 and 3 samples.
    for n in 1 3; do
      {
        awk -v n=$n 'NR == 1 { $4 = $2 + (n - 1) * $3 } { print }' examples/motion/header.txt
        printf '%s' "$sep"
        head -n $((3 * n)) examples/motion/double_pendulum.mov
        printf '%s' "$sep"
        head -n $((3 * n)) examples/motion/double_pendulum.jnt
      } | seed motion "double_pendulum-$n"
    done
    ;;
  *)
    echo "unknown target $t" >&2
    exit 2
    ;;
  esac
  regressions "$t"
done

# --- runs --------------------------------------------------------------------
declare -A max_len=([expr]=1024 [model]=65536 [stl]=65536 [bmp]=4096 [settings]=2048
  [result]=16384 [motion]=16384)
summary=()
status=0
for t in "${targets[@]}"; do
  run=$build/run/$t
  findings=$build/findings/$t
  rm -rf "$run"
  mkdir -p "$run" "$findings"
  touch "$run/.start"
  echo "== fuzz_$t: ${seconds}s"
  # One job, one worker: the targets run one at a time, niced. Inputs that
  # take more than 10 s or allocate more than 1 GiB count as findings.
  (cd "$run" && nice -n 5 "$build/fuzz/fuzz_$t" -jobs=1 -workers=1 \
    -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len="${max_len[$t]}" \
    -dict="$root/fuzz/dict/$t.dict" -artifact_prefix="$findings/" \
    "$root/fuzz/corpus-$t" >/dev/null 2>&1) || true
  log=$run/fuzz-0.log
  execs=$(grep -a 'stat::number_of_executed_units' "$log" | tail -n1 | awk '{print $2}')
  found=$(grep -aE '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix=.*Test unit written)' "$log" || true)
  count=$(find "$findings" -type f -newer "$run/.start" | wc -l)
  summary+=("fuzz_$t: ${execs:-?} executions, $count new findings")
  if [ -n "$found" ] || [ "$count" -gt 0 ]; then
    status=1
    echo "$found" | head -n 20
    find "$findings" -type f -newer "$run/.start" | sed 's/^/  finding: /'
  fi
done
echo
printf '%s\n' "${summary[@]}"
exit $status
