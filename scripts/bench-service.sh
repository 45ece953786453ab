#!/usr/bin/env bash
# Times one small signed request (remains.php) to the local service, on a new connection each time and
# on one kept-alive connection, and prints both medians side by side. Loopback only; stops by itself.
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

timeout 120 python3 - "$port" "$requests" <<'EOF'
import hashlib, http.client, random, statistics, string, sys, time

port, count = int(sys.argv[1]), int(sys.argv[2])

def body():
    key = "".join(random.choice(string.ascii_letters + string.digits) for _ in range(10))
    token = hashlib.md5(f"{key}!~@@*~!{key}QWEpoi{key}".encode()).hexdigest()
    return f"songID=0&publicKey={key}&accessToken={token}".encode()

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
EOF
