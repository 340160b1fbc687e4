#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run orvaldyn.
# Idempotent: does nothing (and says nothing) when all packages are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config dpkg-dev  # dpkg-dev: dpkg-shlibdeps for cpack -G DEB
  qtbase5-dev libqt5opengl5-dev libqwt-qt5-dev
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri
  libboost-dev libtnt-dev libjama-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  clang-format  # .clang-format
  python3-matplotlib  # scripts/plot_friction_law.py
  clang libclang-rt-14-dev libomp-14-dev  # fuzz build: clang needs its own OpenMP runtime
  # The Python package and its studies, run by Debian's /usr/bin/python3.
  python3-numpy python3-pandas python3-distributed python3-pytest python3-matplotlib
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
