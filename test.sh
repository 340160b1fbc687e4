#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (GUI tests on a
# virtual display). `./test.sh --sanitize` does the same with AddressSanitizer
# and UndefinedBehaviorSanitizer. ORVALDYN_WERROR=ON (CI sets it) makes any
# warning in our own sources an error.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALDYN_WERROR="${ORVALDYN_WERROR:-OFF}")
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  flags+=(-DORVALDYN_SANITIZE=ON -DORVALDYN_GUI=ON -DORVALDYN_BENCH=OFF)
fi

cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$(nproc)"
