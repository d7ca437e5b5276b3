#!/usr/bin/env bash
# Installs what is missing, builds and starts Vocalith.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVOCALITH_BUILD_TESTS=OFF -DVOCALITH_BUILD_BENCH=OFF
exec "$root/build/src/app/vocalith" "$@"
