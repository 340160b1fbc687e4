#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed batch
# program on an example, in a copy of the installed examples folder, as a
# user of the package would.
#   tests/install_test.sh CMAKE BUILD_DIR GUI(ON|OFF)
set -euo pipefail
cmake=$1 build=$2 gui=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
expected=(bin/orvaldyn-batch share/orvaldyn/examples/setting/setting.txt
  share/orvaldyn/examples/meshes/cube.stl share/orvaldyn/examples/motion/double_pendulum.mov
  share/doc/orvaldyn/README.md share/doc/orvaldyn/model-file.md)
[ "$gui" = ON ] && expected+=(bin/orvaldyn share/applications/orvaldyn.desktop)
for f in "${expected[@]}"; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
if [ -e "$prefix/share/orvaldyn/examples/log" ]; then
  echo "results of runs were installed: share/orvaldyn/examples/log"
  exit 1
fi

cp -r "$prefix/share/orvaldyn/examples" "$tmp/work"
cd "$tmp/work"
"$prefix/bin/orvaldyn-batch" pendulum.txt >console.txt 2>&1 || {
  echo "installed orvaldyn-batch failed (exit $?):"
  tail -20 console.txt
  exit 1
}
grep -q '^time_num$' log/result_pendulum.txt || { echo "no result file written"; exit 1; }
echo "installed orvaldyn-batch ran pendulum.txt: $(wc -l <log/result_pendulum.txt) lines of result"
