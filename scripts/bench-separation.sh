#!/usr/bin/env bash
# Measures the local service's separation on seeded synthetic songs whose stems are known:
#   quality  the README's table: 8 songs of 20 s (2 with every stem in the centre), seed 1
#   speed    a 3-minute stereo song, each instrument, on one core
#   memory   the peak memory of separating a 10-minute stereo song, each instrument
#   model    the service's jobs with the build's model beside the signal-processing ones: a 3-minute
#            stereo song per instrument on one core, and the peak memory (resident and address space) of
#            a 10-minute one
#   recorded the recorded-sample set: 20 songs rendered from each training soundfont with the evaluation
#            seeds, never trained or tuned on; the signal-processing methods, the model and the oracle
#            side by side (renders once into $RECORDED_DIR, default ~/.cache/zelk-recorded-set; needs
#            training/install-deps.sh)
#   scripts/bench-separation.sh [quality] [speed] [memory] [model] [recorded]   (default: all five)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
tool=$build_dir/bin/zelk-separation-eval
service=$build_dir/bin/zelk-service
instruments=(vocals drums bass guitar piano)
steps=("$@")
((${#steps[@]})) || steps=(quality speed memory model recorded)
model=$build_dir/bin/models/separator.pt

# A new build directory is configured and built whole; an existing one builds only what runs here.
if [ -f "$build_dir/build.ninja" ]; then
    cmake --build "$build_dir" --target zelk-separation-eval zelk-service zelk-model >/dev/null
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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print a / b }'; }

# Runs one service job on core 0 (a model named by $3 when given) and prints: processor seconds, wall
# seconds, peak resident MiB, peak address space MiB.
job() {
    local input=$1 instrument=$2 started peak_vm=0 pid
    started=$(date +%s.%N)
    taskset -c 0 /usr/bin/time -v -o "$work/job.txt" \
        "$service" --job "$input" "$instrument" "$work/instrument.wav" "$work/mix.wav" ${3:-} 3>/dev/null &
    pid=$!
    # The job is time's child; its VmPeak is read until it ends.
    while kill -0 "$pid" 2>/dev/null; do
        for child in $(pgrep -P "$pid"); do
            vm=$(sed -n 's/^VmPeak:\s*\([0-9]*\) kB/\1/p' "/proc/$child/status" 2>/dev/null || true)
            [ -n "$vm" ] && ((vm > peak_vm)) && peak_vm=$vm
        done
        sleep 0.2
    done
    wait "$pid"
    local wall cpu
    wall=$(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { print a - b }')
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$work/job.txt")
    echo "$cpu $wall $(peak "$work/job.txt") $((peak_vm / 1024))"
}

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
    model)
        [ -f "$model" ] || { echo "no model at $model" >&2; exit 1; }
        "$tool" --write "$work/3min.wav" --seconds 180
        echo "3-minute stereo song on one core: times real time by processor time (by wall time)"
        printf '%-10s  %22s  %22s\n' instrument "model" "signal processing"
        for instrument in "${instruments[@]}"; do
            read -r mcpu mwall _ _ < <(job "$work/3min.wav" "$instrument" "$model")
            read -r dcpu dwall _ _ < <(job "$work/3min.wav" "$instrument")
            printf '%-10s  %9.1f x (%5.1f x)   %9.1f x (%5.1f x)\n' "$instrument" \
                "$(ratio 180 "$mcpu")" "$(ratio 180 "$mwall")" "$(ratio 180 "$dcpu")" "$(ratio 180 "$dwall")"
        done
        "$tool" --write "$work/10min.wav" --seconds 600
        echo "10-minute stereo song, vocals: peak resident memory, peak address space"
        read -r _ _ mrss mvm < <(job "$work/10min.wav" vocals "$model")
        read -r _ _ drss dvm < <(job "$work/10min.wav" vocals)
        printf '%-18s  %6d MiB  %6d MiB\n' model "$mrss" "$mvm" "signal processing" "$drss" "$dvm"
        ;;
    recorded)
        recorded=${RECORDED_DIR:-$HOME/.cache/zelk-recorded-set}
        for soundfont in fluid timgm; do
            training/render.py --out "$recorded" --seeds 9000000:9000019 --soundfont "$soundfont" >/dev/null
        done
        "$tool" --recorded "$recorded"
        ;;
    *)
        echo "unknown step: $step (quality, speed, memory, model or recorded)" >&2
        exit 2
        ;;
    esac
    echo
done
