#!/usr/bin/env bash
# Installs the Debian packages Vocalith needs to build, run and test.
# Safe to run again: only missing packages are fetched.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ ccache pkg-config
  # UI and core; libthai0, which Qt loads to find where Thai lines may break
  qt6-base-dev qt6-svg-dev libgl-dev libthai0
  # keyring
  libsecret-1-dev gnome-keyring dbus dbus-bin
  # the transcript library: SQLite with its full-text index
  libsqlite3-dev
  # provider requests: libcurl, and the system's certificates it checks TLS against
  libcurl4-openssl-dev ca-certificates
  # audio and recognition
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libsndfile1-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
  # the word list that gives on-device text its names and capitals
  wamerican
  # listening: FFmpeg's tempo filter and Qt's sound output
  libavfilter-dev qt6-multimedia-dev
  # tests and benchmarks: real recordings, encoders and reference tools
  ffmpeg pocketsphinx pocketsphinx-testdata curl
  # tests: a sound server with a null sink, its recorder
  pulseaudio pulseaudio-utils
  # tests: the window on X with the accessibility bridge, walked as screen readers do
  xvfb at-spi2-core python3-pyatspi
  # manual page, desktop and software-centre entries, Debian package
  help2man desktop-file-utils appstream dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
