#!/usr/bin/env bash
# Configures and builds ZELK into BUILD_DIR (default: build). Extra arguments go to CMake.
# ZELK_TARGETS, when set, names the only targets to build (space-separated); otherwise all, tests too.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for target in ${ZELK_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}"
