#!/bin/bash
# What rendering training songs and training the separation model need (Debian 12, as root).
# Training runs by hand, outside CI; the build and the tests do not need any of this.
set -e
packages="python3-torch python3-numpy python3-scipy fluidsynth fluid-soundfont-gm timgm6mb-soundfont"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi
