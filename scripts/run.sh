#!/usr/bin/env bash
# Installs what is missing, builds zvcc and starts it on its bundled default settings.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_TESTS=OFF >/dev/null
cmake --build build
exec build/bin/zvcc
