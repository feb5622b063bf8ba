#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
QT_QPA_PLATFORM=offscreen ctest --preset default
