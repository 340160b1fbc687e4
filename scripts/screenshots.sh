#!/usr/bin/env bash
# Makes the pictures in docs/images/ with an already built desktop program:
#   scripts/screenshots.sh [PATH/TO/orvaldyn]      (default build/src/orvaldyn)
# Each model is opened and run in examples/ on a virtual display; the main
# window is saved at one frame mid-animation, the graph window with the
# output channels chosen and its export dialog, the playback bar on its own;
# the camera is the one reading the model fitted. One more is started and saved while it runs, with
# its progress bar. The messages panel is shown after a model with a
# typing error was refused (a copy of the pendulum in a scratch copy of
# examples/). Builds nothing itself.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
exe="$(realpath "${1:-$top/build/src/orvaldyn}")"
[ -x "$exe" ] || { echo "no program at $exe: build it first" >&2; exit 1; }
out="$top/docs/images"
mkdir -p "$out"

# model, frame shown, graph channels (1-based in the graph window's list)
shots=(
  "pendulum.txt 60 3,4"
  "slider_crank.txt 40 3"
)

cd "$top/examples"
for shot in "${shots[@]}"; do
  read -r model frame channel <<<"$shot"
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$exe" --screenshot "$out" "$model" "$frame" "$channel" >/dev/null
done
# model, fraction of the run done when the picture is taken
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$exe" --screenshot-run "$out" contact_group.txt 0.4 >/dev/null
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp -r "$top/examples" "$scratch/"
cd "$scratch/examples"
rm -rf log
sed '23s/revolution/revolutoin/' pendulum.txt >pendulum_typo.txt
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$exe" --messages-screenshot "$out/messages_panel.png" pendulum.txt pendulum_typo.txt >/dev/null
ls -1 "$out"/*.png
