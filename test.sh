#!/usr/bin/env bash
# Installs what is missing, builds every target, runs every test with CTest, then installs the
# build and its Debian package and checks them.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
QT_QPA_PLATFORM=offscreen ctest --preset default
./scripts/check-package.sh build/default
