#!/usr/bin/env bash
# Installs what is missing, builds ZELK and starts it through the same launcher an installed copy
# uses: it makes the documents folder on a first run and starts the bundled local service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only what running needs: the program, its logging plug-in and the local service, not the tests.
ZELK_TARGETS="zelk LogQuill zelk-service" bash scripts/build.sh
export ZELK_LIB_DIR="$PWD/${BUILD_DIR:-build}/bin"
# Songs are held a few seconds, so that the countdown can be watched.
export ZELK_SERVICE_OPTIONS="${ZELK_SERVICE_OPTIONS:---min-seconds 5}"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a packaging/linux/zelk.sh "$@"
fi
exec packaging/linux/zelk.sh "$@"
