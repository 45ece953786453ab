#!/usr/bin/env bash
# Measures the client side by side with references run on the same machine in the same run, and
# prints each figure as a ratio with its goal:
#   start-up     the program with a signed-in user, launch to the main window's first frame, against
#                the barest Qt Quick window (median of RUNS interleaved starts each), each with the
#                renderer it chooses, and both again with Qt's software renderer;
#   whole run    drop of a 3-minute MP3 to both MP3 results converted, against the same steps done
#                with ffmpeg and curl on the same file and service (median of two runs each);
#   memory       the client's peak resident size while two 100 MB results download, above its idle peak;
#   stalls       the longest stall of the GUI thread while converting, uploading and downloading.
# Builds what it needs, starts its own service with a temporary data folder and HOME, and removes
# both when it ends. Loopback only. Runs under xvfb-run when there is no display.
#   scripts/bench-client.sh [--startup-only] [RUNS]   (default 15)
# --startup-only times the start-up alone, in the same way, and skips the rest.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${ZELK_BENCH_DISPLAY:-}" ]; then
    if command -v xvfb-run >/dev/null; then
        exec env ZELK_BENCH_DISPLAY=xvfb xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
    fi
    export QT_QPA_PLATFORM=offscreen
fi

startup_only=false
if [ "${1:-}" = --startup-only ]; then
    startup_only=true
    shift
fi
runs=${1:-15}

build=${BUILD_DIR:-build}
echo "building into $build ..." >&2
bash scripts/build.sh >/dev/null
bin=$PWD/$build/bin
bench=$PWD/$build/bench/bin

work=$(mktemp -d /tmp/zelk-bench.XXXXXX)
service_pid=
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Everything the programs write stays in the temporary HOME.
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Made first, so that the wait below never reads before the service has opened it.
: >"$work/service.log"
"$bin/zelk-service" --port 0 --data "$work/data" >"$work/service.log" 2>&1 &
service_pid=$!
port=
for _ in $(seq 50); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/service.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "the service did not start:" >&2; cat "$work/service.log" >&2; exit 1; }
service=http://127.0.0.1:$port

documents=$HOME/Documents/ZELK
mkdir -p "$documents"/{Save,Audio,Logs,Temp}
printf '[General]\nservice_url=%s\nprobe_url=%s/generate_204\n' "$service" "$service" >"$documents/zelk.ini"

# An account, signed in through the program so that every start below finds the stored sign-in.
s=$service/zelk-server
key=BenchKey01
token=$(printf '%s!~@@*~!%sQWEpoi%s' $key $key $key | md5sum | cut -d' ' -f1)
sign="publicKey=$key&accessToken=$token"
pass=$(printf ')^!kq %s zx42m' 'bench secret' | md5sum | cut -d' ' -f1)
curl -sf "$s/auth/registration.php" -d "email=bench@example.org&name=Bench&password=$pass&$sign" >/dev/null
hash=$(curl -sf "$s/auth/getInfo.php" -d "email=bench@example.org&$sign" | sed 's/.*"hash":"\([0-9a-f]*\)".*/\1/')
driver() { ZELK_BENCH=$1 timeout 300 "$bench/zelk_bench_driver" 2>>"$work/driver.log"; }
driver "signin:bench@example.org:bench secret" >/dev/null

startup_report() {
    printf '%-44s %12s %12s %8s %8s\n' measure program reference ratio goal
    printf '%-44s %9.1f ms %9.1f ms %8s %8s\n' "start-up to first frame (median of $runs)" \
        "$(start_ms zelk)" "$(start_ms bare)" "$(ratio "$(start_ms zelk)" "$(start_ms bare)")" "<= 1.30"
    printf '%-44s %12s %12s\n' "  renderer each chose" "$(renderer zelk)" "$(renderer bare)"
    printf '%-44s %9.1f ms %9.1f ms %8s %8s\n' "  both with the software renderer" \
        "$(start_ms zelk-software)" "$(start_ms bare-software)" \
        "$(ratio "$(start_ms zelk-software)" "$(start_ms bare-software)")" -
}

if ! $startup_only; then
    echo "making the media ..." >&2
    media=$work/media
    mkdir -p "$media"
    # A tone over noise: enough for the separation to have work to do.
    tone() {
        ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=220:duration=$1" -f lavfi -i "anoisesrc=d=$1:a=0.1" \
            -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -ar 44100 "${@:3}" "$2"
    }
    tone 180 "$media/Song.mp3" -c:a libmp3lame -b:a 192k
    # 595 s of 16-bit stereo at 44.1 kHz: each result WAV is 100 MB.
    tone 595 "$media/Long Song.flac" -c:a flac
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
now_us() { echo "${EPOCHREALTIME/./}"; }

# --- start-up ---------------------------------------------------------------------------------------
# Prints "MS RENDERER" for one start of program $2 with the environment assignments in $1.
first_frame() {
    local out
    out=$(env $1 ZELK_FIRST_FRAME=$(now_us) timeout 30 "$2" 2>/dev/null) || true
    sed -n 's/^first frame: \([0-9.]*\) ms, \([a-z]*\) renderer$/\1 \2/p' <<<"$out"
}
# Each program as it starts by itself, and both with Qt's software renderer for a like-for-like view.
series=("zelk|X=|$bin/zelk" "bare|X=|$bench/zelk_bench_bare"
    "zelk-software|QT_QUICK_BACKEND=software|$bin/zelk" "bare-software|QT_QUICK_BACKEND=software|$bench/zelk_bench_bare")
echo "timing $runs start-ups of each of ${#series[@]} ..." >&2
for entry in "${series[@]}"; do
    IFS='|' read -r name vars program <<<"$entry"
    # One start first fills the caches (QML, fonts, shaders) as any earlier start would have.
    first_frame "$vars" "$program" | cut -d' ' -f2 >"$work/$name.renderer"
    : >"$work/$name.ms"
done
for i in $(seq "$runs"); do
    # Each round starts with another series, so that no series always follows the same one.
    for k in 0 1 2 3; do
        IFS='|' read -r name vars program <<<"${series[$(((i + k) % 4))]}"
        first_frame "$vars" "$program" | cut -d' ' -f1 >>"$work/$name.ms"
    done
done
start_ms() { median <"$work/$1.ms"; }
renderer() { cat "$work/$1.renderer"; }
header() { echo; echo "ZELK client benchmark ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"; }
if $startup_only; then
    header
    startup_report
    exit 0
fi

# --- whole run --------------------------------------------------------------------------------------
# What a user would do by hand: the same conversions and requests, with the results polled each second.
by_hand() {
    local source=$1 out=$work/by-hand name
    rm -rf "$out"
    mkdir -p "$out"
    name=$(basename "${source%.*}")
    ffmpeg -loglevel error -i "$source" -vn -c:a pcm_s16le -y "$out/upload.wav"
    local id urls
    id=$(curl -sf "$s/proceed.php" -F "uploadedFile=@$out/upload.wav" -F instrument=vocals -F version=full \
        -F "fileName=$name" -F "hash=$hash" -F extension=mp3 -F "originalFilePath=$source" \
        -F "publicKey=$key" -F "accessToken=$token")
    until [ "$(curl -sf "$s/remains.php" -d "songID=$id&$sign")" = -1 ]; do sleep 1; done
    urls=$(curl -sf "$s/download.php" -d "songID=$id&$sign")
    curl -sf -o "$out/vocals.wav" "${urls%|*}" &
    curl -sf -o "$out/mix.wav" "${urls#*|}"
    wait $!
    ffmpeg -loglevel error -i "$out/vocals.wav" -b:a 320k -vn "$out/vocals - $name.mp3"
    rm "$out/vocals.wav"
    ffmpeg -loglevel error -i "$out/mix.wav" -b:a 320k -vn "$out/Mix Without vocals - $name.mp3"
    rm "$out/mix.wav"
}
timed_by_hand() {
    local start
    start=$(now_us)
    by_hand "$1"
    echo $((($(now_us) - start) / 1000))
}
program_run() {
    driver "run:$1:vocals:$2" >"$work/run.out" || { cat "$work/run.out" >&2; exit 1; }
    rm -f "$documents"/Save/*
    cat "$work/run.out"
}
echo "timing whole runs ..." >&2
: >"$work/program.ms"
: >"$work/hand.ms"
: >"$work/stalls"
for i in 1 2; do
    out=$(program_run "$media/Song.mp3" MP3)
    sed -n 's/^wall: \([0-9]*\) ms$/\1/p' <<<"$out" >>"$work/program.ms"
    sed -n 's/^stall //p' <<<"$out" >>"$work/stalls"
    timed_by_hand "$media/Song.mp3" >>"$work/hand.ms"
done
program_wall=$(median <"$work/program.ms")
hand_wall=$(median <"$work/hand.ms")

# --- memory and stalls of long transfers ------------------------------------------------------------
echo "taking two 100 MB results ..." >&2
out=$(program_run "$media/Long Song.flac" WAV)
sed -n 's/^stall //p' <<<"$out" >>"$work/stalls"
idle_peak=$(sed -n 's/^idle peak: \([0-9.]*\) MB$/\1/p' <<<"$out")
download_peak=$(sed -n 's/^download peak: \([0-9.]*\) MB.*$/\1/p' <<<"$out")
longest() { awk -v s="$1:" '$1 == s && $2 > m { m = $2 } END { printf "%.1f", m }' "$work/stalls"; }

header
startup_report
printf '%-44s %9.0f ms %9.0f ms %8s %8s\n' "drop to both results (median of 2)" \
    "$program_wall" "$hand_wall" "$(ratio "$program_wall" "$hand_wall")" "<= 1.10"
printf '%-44s %9.1f MB %9.1f MB %8s %8s\n' "peak while two 100 MB results download" \
    "$download_peak" "$idle_peak" "+$(awk -v a="$download_peak" -v b="$idle_peak" 'BEGIN { printf "%.1f", a - b }') MB" \
    "<= +64"
for stage in conversion upload download; do
    printf '%-44s %9.1f ms %12s %8s %8s\n' "longest GUI stall, $stage" "$(longest "$stage")" - - "< 50"
done
