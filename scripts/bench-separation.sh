#!/usr/bin/env bash
# Measures the local service's separation on seeded synthetic songs whose stems are known:
#   quality  the README's table: 8 songs of 20 s (2 with every stem in the centre), seed 1
#   speed    a 3-minute stereo song, each instrument, on one core
#   memory   the peak memory of separating a 10-minute stereo song, each instrument
#   scripts/bench-separation.sh [quality] [speed] [memory]   (default: all three)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
tool=$build_dir/bin/zelk-separation-eval
instruments=(vocals drums bass guitar piano)
steps=("$@")
((${#steps[@]})) || steps=(quality speed memory)

# A new build directory is configured and built whole; an existing one builds only the tool.
if [ -f "$build_dir/build.ninja" ]; then
    cmake --build "$build_dir" --target zelk-separation-eval >/dev/null
else
    BUILD_DIR=$build_dir bash scripts/build.sh
fi
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: run scripts/install-deps.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Separates one file as the service separates an upload (whole file in memory), followed by the file
# and --instrument NAME. When the separation streams from file to file, put that entry here instead,
# so that the memory figure is the streaming one.
separate=("$tool" --split)

for step in "${steps[@]}"; do
    case $step in
    quality)
        "$tool" --songs 8 --seconds 20 --centre 2 --seed 1
        ;;
    speed)
        "$tool" --write "$work/3min.wav" --seconds 180
        taskset -c 0 "$tool" --split "$work/3min.wav"
        ;;
    memory)
        "$tool" --write "$work/10min.wav" --seconds 600
        echo "600 s, 2 channels: $(($(stat -c %s "$work/10min.wav") / 1048576)) MiB of WAV"
        printf '%-10s  %12s  %9s\n' instrument "peak memory" "wall time"
        for instrument in "${instruments[@]}"; do
            /usr/bin/time -v -o "$work/time.txt" "${separate[@]}" "$work/10min.wav" --instrument "$instrument" >/dev/null
            peak=$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$work/time.txt")
            wall=$(sed -n 's/^\s*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
            printf '%-10s  %8d MiB  %9s\n' "$instrument" $((peak / 1024)) "$wall"
        done
        ;;
    *)
        echo "unknown step: $step (quality, speed or memory)" >&2
        exit 2
        ;;
    esac
    echo
done
