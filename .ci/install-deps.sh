#!/usr/bin/env bash
# Installs every Debian 12 package Kavira needs to build, run and test.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libasound2-dev zlib1g-dev
  # run
  libgl1-mesa-dri libqt6svg6
  # test peers and display
  xvfb xauth x11-xserver-utils ffmpeg openssl python3 python3-gi gir1.2-gst-rtsp-server-1.0
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  # one screen suite runs under a window manager with a panel, as on a laptop's desktop
  openbox tint2 x11-utils
  # the demo's test drives the program through the accessibility tree and the X display
  dbus-daemon dbus-bin at-spi2-core gir1.2-atspi-2.0 python3-xlib
  # the clang builds with sanitizers (tools/test.sh) and the parsers' fuzz targets (tools/fuzz.sh)
  clang libclang-rt-14-dev
  # the house rules (tools/check.sh): formatting
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
