#!/usr/bin/env bash
# Times one small signed request (remains.php) to the local service, on a new connection each time and
# on one kept-alive connection, and prints both medians side by side; then has 20 clients, each from an
# address of its own, register, upload, wait and download at once, and checks that every pair of results
# adds up to its upload. Loopback only; stops by itself.
#   scripts/bench-service.sh [REQUESTS]   (default 40 of each kind)
set -euo pipefail
cd "$(dirname "$0")/.."
service=${BUILD_DIR:-build}/bin/zelk-service
requests=${1:-40}
[ -x "$service" ] || { echo "build zelk-service first ($service)" >&2; exit 1; }

data=$(mktemp -d)
log="$data/service.log"
"$service" --port 0 --data "$data" >"$log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$data"' EXIT

port=
for _ in $(seq 50); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "the service did not start:" >&2; cat "$log" >&2; exit 1; }

timeout 300 python3 - "$port" "$requests" "$PWD/scripts" <<'EOF'
import http.client, re, statistics, sys, threading, time

port, count = int(sys.argv[1]), int(sys.argv[2])
sys.path.insert(0, sys.argv[3])
import service_client as client

def body():
    return "&".join(f"{k}={v}" for k, v in {"songID": 0, **client.signing()}.items()).encode()

def ask(connection):
    start = time.perf_counter()
    connection.request("POST", "/zelk-server/remains.php", body(),
                       {"Content-Type": "application/x-www-form-urlencoded"})
    reply = connection.getresponse().read()
    elapsed = (time.perf_counter() - start) * 1000
    assert reply == b"Invalid songID", reply
    return elapsed

fresh = []
for _ in range(count):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    fresh.append(ask(connection))
    connection.close()

# Only requests sent on a socket that already carried one count: the service closes a connection after
# a few requests, and http.client then opens a new one by itself.
kept = []
connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
while len(kept) < count:
    reused = connection.sock is not None
    elapsed = ask(connection)
    if reused:
        kept.append(elapsed)
connection.close()

print(f"{'requests':>10} {'new connection':>16} {'kept-alive':>12}")
print(f"{count:>10} {statistics.median(fresh):>13.2f} ms {statistics.median(kept):>9.2f} ms  (median)")

# Twenty clients at once, each from its own address, three seconds of stereo each, a tone of its own.
def journey(i, outcomes):
    source = f"127.0.12.{i + 1}"
    start = time.perf_counter()
    _, user_hash = client.account(port, "bench", source)
    audio = client.wav(3 * 44100, seed=i)
    song, _ = client.upload(port, user_hash, audio, "vocals", source)
    state = client.wait_done(port, song, 240, source) if song.isdigit() else song
    if state != "-1":
        outcomes[i] = (f"song answered {state}", 0.0)
        return
    parts = []
    for url in client.post(port, "download.php", {"songID": song}, source).split("|"):
        _, body = client.request(port, "GET", re.sub(r"^http://[^/]+", "", url), source=source)
        parts.append(client.pcm(body))
    expected = client.pcm(audio)
    exact = len(parts) == 2 and all(len(p) == len(expected) for p in parts) \
        and all(a + b == c for a, b, c in zip(parts[0], parts[1], expected))
    outcomes[i] = ("exact" if exact else "results do not add up", time.perf_counter() - start)

outcomes = [("not run", 0.0)] * 20
threads = [threading.Thread(target=journey, args=(i, outcomes)) for i in range(20)]
start = time.perf_counter()
[t.start() for t in threads]
[t.join() for t in threads]
exact = sum(outcome == "exact" for outcome, _ in outcomes)
print(f"20 clients at once: {exact}/20 results add up to their uploads, all done in "
      f"{time.perf_counter() - start:.1f} s (slowest client {max(t for _, t in outcomes):.1f} s)")
for outcome, _ in outcomes:
    if outcome != "exact":
        print("  " + outcome)
EOF
