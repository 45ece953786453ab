#!/usr/bin/env bash
# Runs one test program with a home folder of its own, so that no test touches the real one.
set -u
home=$(mktemp -d "${TMPDIR:-/tmp}/zelk-test-home.XXXXXX")
trap 'rm -rf "$home"' EXIT
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_DOCUMENTS_DIR
# Under the sanitizers, leaks that live inside Qt's own process-wide caches are not ours to report.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# A desktop-sized screen: the offscreen default of 800 x 600 is too small for some windows' full size.
screen_config="$(cd "$(dirname "$0")" && pwd)/offscreen-screen.json"
export HOME="$home" XDG_RUNTIME_DIR="$home/.runtime" QT_QPA_PLATFORM="offscreen:configfile=$screen_config"
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$@"
