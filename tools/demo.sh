#!/usr/bin/env bash
# Shows and lets you hear the player work, with or without a display:
# builds it, starts it on a private headless desktop against a small
# loopback music site, presses F9, F10 and F8, and writes a screenshot and
# a recording of what was heard.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh all
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2 --target zorva
exec /usr/bin/python3 tools/demo.py build
