#!/usr/bin/env bash
# Installs what is missing, builds optimised and runs every benchmark program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build-bench"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Release -DVOCALITH_BUILD_TESTS=OFF
for bench in $(find "$build/bench" -maxdepth 1 -type f -executable -name 'bench_*' | sort); do
    echo "== $(basename "$bench")"
    "$root/scripts/test-session.sh" "$bench"
done
