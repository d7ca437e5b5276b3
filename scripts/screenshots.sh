#!/usr/bin/env bash
# Remakes docs/transcribe.png and docs/translate.png from the real window under Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
command -v Xvfb >/dev/null || sudo apt-get install -y -qq xvfb
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
Xvfb :77 -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 1
DISPLAY=:77 QT_QPA_PLATFORM=xcb "$root/scripts/test-session.sh" \
    "$root/build/tools/readme_screenshots" "$root/docs"
