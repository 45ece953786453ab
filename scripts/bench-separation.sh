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
service=$build_dir/bin/zelk-service
instruments=(vocals drums bass guitar piano)
steps=("$@")
((${#steps[@]})) || steps=(quality speed memory)

# A new build directory is configured and built whole; an existing one builds only what runs here.
if [ -f "$build_dir/build.ninja" ]; then
    cmake --build "$build_dir" --target zelk-separation-eval zelk-service >/dev/null
else
    BUILD_DIR=$build_dir bash scripts/build.sh
fi
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: run scripts/install-deps.sh" >&2; exit 1; }

# The peak resident memory, in MiB, from /usr/bin/time -v's report.
peak() {
    echo $(($(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$1") / 1024))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
        # The service splits each song in a job process of its own, streaming from file to file; the
        # tool's --split holds the whole song and both results in memory, for comparison.
        "$tool" --write "$work/10min.wav" --seconds 600
        echo "600 s, 2 channels: $(($(stat -c %s "$work/10min.wav") / 1048576)) MiB of WAV; peak memory"
        printf '%-10s  %16s  %16s\n' instrument "service job" "whole in memory"
        for instrument in "${instruments[@]}"; do
            # A job tells its progress on descriptor 3; nobody listens here.
            /usr/bin/time -v -o "$work/job.txt" \
                "$service" --job "$work/10min.wav" "$instrument" "$work/instrument.wav" "$work/mix.wav" 3>/dev/null
            /usr/bin/time -v -o "$work/whole.txt" \
                "$tool" --split "$work/10min.wav" --instrument "$instrument" >/dev/null
            printf '%-10s  %12d MiB  %12d MiB\n' "$instrument" "$(peak "$work/job.txt")" "$(peak "$work/whole.txt")"
        done
        ;;
    *)
        echo "unknown step: $step (quality, speed or memory)" >&2
        exit 2
        ;;
    esac
    echo
done
