#!/usr/bin/env bash
# Builds the player and runs it on your display: tools/run.sh [arguments]
# Without a display the player itself says so and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh run
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVA_TESTS=OFF
fi
cmake --build build -j2 --target zorva
exec build/zorva "$@"
