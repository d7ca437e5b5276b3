#!/usr/bin/env bash
# Installs what is missing, builds a release and makes the Debian package
# build-package/vocalith_<version>_<architecture>.deb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build-package"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release \
  -DVOCALITH_BUILD_TESTS=OFF -DVOCALITH_BUILD_BENCH=OFF
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/vocalith_*.deb
