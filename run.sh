#!/usr/bin/env bash
# Installs what is missing, builds the release programs and starts the desktop
# program in examples/. `./run.sh --batch MODEL` runs one analysis headless.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
caller="$(pwd)"
cd "$top"
./scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DORVALDYN_TESTS=OFF -DORVALDYN_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)"

# The settings live in examples/setting, so the programs run there. A model
# path given from elsewhere is made absolute first.
resolve() {
  case "$1" in
    /*) echo "$1" ;;
    *) if [ -e "$caller/$1" ]; then echo "$caller/$1"; else echo "$1"; fi ;;
  esac
}

cd "$top/examples"
if [ "${1:-}" = "--batch" ]; then
  shift
  [ $# -ge 1 ] || { echo "usage: ./run.sh --batch MODEL" >&2; exit 2; }
  model="$(resolve "$1")"
  shift
  exec "$top/build-release/src/orvaldyn-batch" "$model" "$@"
fi
if [ -x "$top/build-release/src/orvaldyn" ]; then
  args=()
  [ $# -ge 1 ] && args=("$(resolve "$1")")
  exec "$top/build-release/src/orvaldyn" "${args[@]}"
fi
exec "$top/build-release/src/orvaldyn-batch" "${1:-pendulum.txt}"
