#!/usr/bin/env bash
# Builds Zorva and runs every test: tools/test.sh [extra ctest arguments]
# Needs no display or sound server: each end-to-end test starts its own
# headless desktop (tests/harness/desktop.py).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh all
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVA_TESTS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure --no-tests=error "$@"
