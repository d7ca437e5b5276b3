#!/usr/bin/env bash
# Configures and builds into the given directory (kept between runs), passing
# any further arguments to CMake's configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build"
