#!/usr/bin/env bash
# Installs the Debian 12 packages Zorva needs; only those missing.
#
#   tools/install-deps.sh [run|test|all]     (default: all)
#
#   run   build the player and run it on a desktop
#   test  what the tests and benches add (headless X, sound server, tools)
#   all   both
#
# As root it runs apt-get update once, then apt-get install. Otherwise it
# prints the command to run and exits 1. Nothing missing: nothing is done.
set -euo pipefail

run_packages=(
  # build
  cmake g++ pkg-config make
  libgtk-3-dev libwebkit2gtk-4.1-dev libpng-dev zlib1g-dev
  libpulse-dev libsndfile1-dev libx11-dev libxfixes-dev
  # run: proxy-aware networking, media playback, sandbox, rendering, fonts
  glib-networking libproxy1v5
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-gl gstreamer1.0-x
  bubblewrap xdg-dbus-proxy libgl1-mesa-dri librsvg2-common
  fonts-wqy-zenhei fonts-dejavu-core
)
test_packages=(
  libgtest-dev libgmock-dev libxtst-dev libgtk-3-bin
  # bench/player.py compares memory with Debian's minimal WebKitGTK browser
  surf
  xvfb openbox dbus pulseaudio pulseaudio-utils
  xdotool x11-utils imagemagick sox
  python3 python3-pil python3-qrcode python3-numpy
)

group="${1:-all}"
case "$group" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  all) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
  -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
  *) echo "install-deps.sh: unknown group '$group' (run, test or all)" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  status="$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)"
  if [ "$status" != "installed" ]; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps.sh: all ${#wanted[@]} packages for '$group' are installed"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: missing packages: ${missing[*]}" >&2
  echo "Run as root:" >&2
  echo "apt-get update && apt-get install -y ${missing[*]}"
  exit 1
fi

echo "install-deps.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
