#!/usr/bin/env bash
# Installs what is missing, builds ZELK, starts the bundled local service and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
bin=${BUILD_DIR:-build}/bin

# The program keeps its files in an existing "ZELK" documents folder; make one on a first run.
documents="$HOME/Documents"
if [ -f "$HOME/.config/user-dirs.dirs" ]; then
    # shellcheck disable=SC1091
    . "$HOME/.config/user-dirs.dirs"
    documents=${XDG_DOCUMENTS_DIR:-$documents}
fi
[ -d "$documents/ZELK" ] || [ -d "$HOME/.local/share/Orvane Software/ZELK/ZELK" ] || mkdir -p "$documents/ZELK"

service_pid=
if [ -x "$bin/zelk-service" ]; then
    data=${ZELK_SERVICE_DATA:-$HOME/.local/share/zelk-service}
    mkdir -p "$data"
    "$bin/zelk-service" --data "$data" --min-seconds 5 &
    service_pid=$!
    trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null' EXIT
    echo "The local service keeps its data, and mails recovery codes to $data/outbox.txt"
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    xvfb-run -a "$bin/zelk" "$@"
else
    "$bin/zelk" "$@"
fi
