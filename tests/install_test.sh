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
expected=(bin/orvaldyn-batch bin/orvaldyn-study share/orvaldyn/python/orvaldyn/study.py
  share/orvaldyn/examples/setting/setting.txt
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

# The installed study command finds its package and the installed program.
printf 'k_spring\n80\n120\n' >sweep.csv
env -u ORVALDYN_BATCH "$prefix/bin/orvaldyn-study" spring_mass.txt sweep.csv --workers 2 \
  --out st >study.txt 2>&1 || { echo "installed orvaldyn-study failed:"; tail -20 study.txt; exit 1; }
[ "$(grep -c ',done,' st/study.csv)" = 2 ] || { echo "study.csv lacks its two runs"; exit 1; }
echo "installed orvaldyn-study ran a sweep of two: $(tail -1 study.txt)"
