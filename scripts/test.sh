#!/usr/bin/env bash
# Installs what is missing, builds ZELK with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
# The program also ships for macOS, where Clang builds it: the whole tree must build with Clang too,
# without a single warning.
BUILD_DIR="${CLANG_BUILD_DIR:-build-clang}" bash scripts/build.sh -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS=-Werror
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --timeout 300 -j "$(nproc)"
