#!/usr/bin/env bash
# Installs what is missing, builds ZELK with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --timeout 300 -j "$(nproc)"
