#!/usr/bin/env bash
# Re-runs the known attacks and faults against a local zelk-service and prints one figure for each.
# Loopback only (127.0.0.0/8), every loop bounded in count and time; the service it starts (with a
# temporary data folder) is stopped at the end.
#   scripts/attack-service.sh [SERVICE_BINARY]   (default build/bin/zelk-service)
set -euo pipefail
cd "$(dirname "$0")/.."
service=${1:-${BUILD_DIR:-build}/bin/zelk-service}
[ -x "$service" ] || { echo "build zelk-service first ($service)" >&2; exit 1; }

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
timeout 600 python3 - "$service" "$data" "$PWD/scripts" <<'EOF'
import gzip, os, random, re, signal, socket, statistics, subprocess, sys, threading, time

binary, data = sys.argv[1], sys.argv[2]
sys.path.insert(0, sys.argv[3])
from service_client import BOUNDARY, account, multipart, password, post, request, signing, song_fields, upload, \
    wait_done
import service_client as client
results = []

def report(number, fault, figure):
    results.append((number, fault, figure))
    print(f"{number:>3}  {fault:<44} {figure}", flush=True)

class Service:
    def __init__(self, folder, *extra):
        self.folder = folder
        self.log = open(os.path.join(data, "service.log"), "ab")
        self.process = subprocess.Popen([binary, "--port", "0", "--data", folder, *extra],
                                        stdout=subprocess.PIPE, stderr=self.log)
        line = self.process.stdout.readline().decode()
        self.port = int(re.search(r":(\d+)$", line.strip()).group(1))
        threading.Thread(target=self.process.stdout.read, daemon=True).start()
    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
    def kb(self, field):
        with open(f"/proc/{self.process.pid}/status") as status:
            return int(re.search(field + r":\s+(\d+)", status.read()).group(1))
    def fresh_peak(self):
        with open(f"/proc/{self.process.pid}/clear_refs", "w") as refs:
            refs.write("5")
        return self.kb("VmHWM")
    def jobs(self):
        found = 0
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as line:
                    words = line.read().split(b"\0")
            except OSError:
                continue
            found += b"--job" in words and any(self.folder.encode() in w for w in words)
        return found

def uploads_mb(folder):
    path = os.path.join(folder, "uploads")
    return sum(os.path.getsize(os.path.join(path, f)) for f in os.listdir(path)) / 1e6

def probe_ms(port):
    start = time.perf_counter()
    status, _ = request(port, "GET", "/generate_204", timeout=60)
    return (time.perf_counter() - start) * 1000 if status == 204 else float("inf")

main = Service(os.path.join(data, "main"))
port = main.port
print(f"{'#':>3}  {'fault':<44} figure")

# 1: a reset from a second computer right after the owner's checkCode.
email, _ = account(port, "owner")
post(port, "auth/recover.php", {"email": email})
code = open(os.path.join(main.folder, "outbox.txt")).read().strip().split("\n")[-1].split("\t")[2]
stolen = []
def thief():
    end = time.time() + 2
    while time.time() < end and not stolen:
        if post(port, "auth/resetpassword.php", {"email": email, "password": password("thief")}, "127.0.9.9") == "success":
            stolen.append(1)
        time.sleep(0.05)
thread = threading.Thread(target=thief)
thread.start()
time.sleep(0.3)
post(port, "auth/checkCode.php", {"email": email, "code": code})
thread.join()
report(1, "reset taken over from another address", "yes" if stolen else "no")

# 2: chunked and compressed uploads, and uploads at once from one address.
_, user_hash = account(port, "uploader")
before = uploads_mb(main.folder)
chunk = b"\0" * (1 << 20)
def chunked_upload(megabytes):
    connection = socket.create_connection(("127.0.0.1", port), timeout=30)
    head = (f"POST /zelk-server/proceed.php HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n"
            f"Content-Type: multipart/form-data; boundary={BOUNDARY}\r\n\r\n").encode()
    start = f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="uploadedFile"; filename="big.wav"\r\n\r\n'.encode()
    peak = 0.0
    try:
        connection.sendall(head + b"%x\r\n" % len(start) + start + b"\r\n")
        for i in range(megabytes):
            connection.sendall(b"%x\r\n" % len(chunk) + chunk + b"\r\n")
            if i % 64 == 0:
                peak = max(peak, sum(os.path.getsize(os.path.join(main.folder, "uploads", f))
                                     for f in os.listdir(os.path.join(main.folder, "uploads"))) / 1e6)
    except OSError:
        pass
    peak = max(peak, uploads_mb(main.folder))
    connection.close()
    time.sleep(1)
    return f"{peak - before:.0f} MB on disk at most, {uploads_mb(main.folder) - before:.0f} MB kept"
report(2, "chunked 1100 MB upload", chunked_upload(1100))
plain = b"\0" * (200 << 20)
body = multipart({**song_fields(user_hash), **signing()}, plain, "song.wav")
packed = gzip.compress(body, 1)
status, reply = request(port, "POST", "/zelk-server/proceed.php", packed,
                        {"Content-Type": f"multipart/form-data; boundary={BOUNDARY}", "Content-Encoding": "gzip"})
report(2, f"gzip body of {len(packed) // 1024} KB", f"HTTP {status}: {reply.decode(errors='replace')[:60]}")
held = []
for i in range(6):
    connection = socket.create_connection(("127.0.0.1", port), timeout=5)
    start = f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="uploadedFile"; filename="held.wav"\r\n\r\nRIFF'.encode()
    connection.sendall((f"POST /zelk-server/proceed.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n"
                        f"Content-Type: multipart/form-data; boundary={BOUNDARY}\r\n\r\n").encode()
                       + b"%x\r\n" % len(start) + start + b"\r\n")
    held.append(connection)
time.sleep(0.5)
taken = len([f for f in os.listdir(os.path.join(main.folder, "uploads")) if f.endswith(".part")])
for connection in held:
    connection.close()
report(2, "uploads in progress at once from one address", f"{taken} of 6")

# 3: a flood of header lines on one connection.
base = main.kb("VmRSS")
sent = 0
connection = socket.create_connection(("127.0.0.1", port), timeout=10)
try:
    connection.sendall(b"GET /generate_204 HTTP/1.1\r\nHost: a\r\n")
    line = b"X-Flood: " + b"a" * 1000 + b"\r\n"
    while sent < (200 << 20):
        connection.sendall(line * 1000)
        sent += len(line) * 1000
except OSError:
    pass
connection.close()
time.sleep(0.5)
report(3, "header lines sent before the service closed", f"{sent / 1e6:.1f} MB, memory {max(0, main.kb('VmRSS') - base) / 1024:+.0f} MB")

# 4: 70 slow clients each from its own address, then 600 silent ones from one address.
def slow_clients(count, one_address, trickle):
    sockets = []
    for i in range(count):
        source = "127.0.0.60" if one_address else f"127.0.6.{i + 1}"
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(source, 0))
            if trickle:
                s.sendall(b"POST /zelk-server/remains.php HTTP/1.1\r\nHost: a\r\n")
            sockets.append(s)
        except OSError:
            pass
    worst = 0.0
    for _ in range(5):
        time.sleep(1)
        for s in sockets:
            try:
                if trickle:
                    s.sendall(b"X-Slow: 1\r\n")
            except OSError:
                pass
        worst = max(worst, probe_ms(port))
    for s in sockets:
        s.close()
    return worst
report(4, "70 trickling clients: slowest normal request", f"{slow_clients(70, False, True):.0f} ms")
report(4, "600 silent clients: slowest normal request", f"{slow_clients(600, True, False):.0f} ms")

# 5: password guessing from one address, and many sign-ins at once.
email, _ = account(port, "guessed")
answered = 0
start = time.time()
for i in range(300):
    reply = post(port, "auth/login.php", {"email": email, "password": password(f"guess{i}")}, "127.0.0.77")
    answered += reply == "Incorrect email or password"
    if reply != "Incorrect email or password" or time.time() - start > 30:
        break
right = post(port, "auth/login.php", {"email": email, "password": password("guessed")}, "127.0.0.77")
report(5, "guesses judged from one address (of 300)", f"{answered}; right password then: {right[:40]}")
peak = main.fresh_peak()
threads = [threading.Thread(target=account, args=(port, "many", f"127.0.7.{i + 1}")) for i in range(128)]
[t.start() for t in threads]
[t.join() for t in threads]
report(5, "128 registrations at once: peak memory growth", f"{(main.kb('VmHWM') - peak) / 1024:.0f} MB")

# 6: WAVs at rates the separation was not laid out for.
_, rate_hash = account(port, "rates")
for rate in (560, 1):
    reply, _ = upload(port, rate_hash, client.wav(max(rate * 2, 64), rate), "bass")
    outcome = wait_done(port, reply) if reply.isdigit() else reply
    report(6, f"bass on a WAV at {rate} Hz", outcome[:70])

# 7: one upload and 200 repeats, then another user's short song.
_, flood_hash = account(port, "flood")
first, name = upload(port, flood_hash, client.wav(20 * 44100, 44100, 1), "drums")
queued = 1 if first.isdigit() else 0
flooded = [first] if first.isdigit() else []
for _ in range(100):
    reply = post(port, "repeat.php", {**song_fields(flood_hash, "drums"), "uploadedFileName": os.path.basename(name)})
    if reply.isdigit():
        queued += 1
        flooded.append(reply)
_, other_hash = account(port, "other")
start = time.time()
other, _ = upload(port, other_hash, client.wav(2 * 44100), "vocals")
estimate = post(port, "remains.php", {"songID": other})
wait_done(port, other, 120)
report(7, "songs one account queued (of 101)", f"{queued}; another user's 2 s song: estimate {estimate} s, "
       f"done in {time.time() - start:.1f} s")

# 8: cancel.php on two running jobs of a few seconds each.
for song in flooded:
    post(port, "cancel.php", {"songID": song})
while main.jobs():
    time.sleep(0.1)
_, long_hash = account(port, "long")
long_songs = [upload(port, long_hash, client.wav(3_000_000, 44100, 1), "guitar", "127.0.13.1")[0] for _ in range(2)]
start = time.time()
while main.jobs() < 2 and time.time() - start < 10:
    time.sleep(0.05)
for song in long_songs:
    post(port, "cancel.php", {"songID": song})
start = time.time()
while main.jobs() and time.time() - start < 120:
    time.sleep(0.05)
report(8, "running jobs cancelled: gone after", f"{time.time() - start:.2f} s")

# 9: estimates after uploads at odd rates.
_, speed_hash = account(port, "speed")
for _ in range(2):
    reply, _ = upload(port, speed_hash, client.wav(8, 1, 1), "vocals")
    if reply.isdigit():
        wait_done(port, reply, 30)
reply, _ = upload(port, speed_hash, client.wav(60 * 44100), "vocals")
report(9, "estimate of a 60 s song after 1 Hz uploads", f"{post(port, 'remains.php', {'songID': reply})} s")
wait_done(port, reply, 120)

# 10: a result asked for with 850 overlapping ranges.
urls = post(port, "download.php", {"songID": reply}).split("|")
path = re.sub(r"^http://[^/]+", "", urls[0])
status, whole = request(port, "GET", path)
status, ranged = request(port, "GET", path, headers={"Range": "bytes=" + ",".join(["0-"] * 850)})
report(10, "850 overlapping ranges: reply / file", f"HTTP {status}, {len(ranged) / 1e6:.1f} MB / {len(whole) / 1e6:.1f} MB")

# 11: a second service on the same data folder.
try:
    second = subprocess.Popen([binary, "--port", "0", "--data", main.folder], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
    out, _ = second.communicate(timeout=3)
    report(11, "second service on the same data folder", f"exit {second.returncode}: {out.decode().strip()[:70]}")
except subprocess.TimeoutExpired:
    second.kill()
    second.wait()
    report(11, "second service on the same data folder", "started and ran")

# 12: known and unknown addresses from a stranger.
known, _ = account(port, "known")
unknown = f"nobody-{random.randrange(1 << 30)}@example.com"
same = post(port, "auth/getInfo.php", {"email": known}, "127.0.8.1") == post(port, "auth/getInfo.php", {"email": unknown}, "127.0.8.1")
def login_ms(address, source):
    start = time.perf_counter()
    post(port, "auth/login.php", {"email": address, "password": password("wrong")}, source)
    return (time.perf_counter() - start) * 1000
known_ms = statistics.median(login_ms(known, f"127.0.8.{10 + i}") for i in range(5))
unknown_ms = statistics.median(login_ms(unknown, f"127.0.8.{20 + i}") for i in range(5))
report(12, "getInfo alike; wrong login known / unknown", f"{'alike' if same else 'differ'}; {known_ms:.1f} / {unknown_ms:.1f} ms")

# 13: recovery mails for throwaway accounts, then a real user's.
for i in range(21):
    throwaway, _ = account(port, "throwaway", f"127.0.10.{i // 3 + 1}")
    for _ in range(3):
        post(port, "auth/recover.php", {"email": throwaway}, f"127.0.10.{i // 3 + 1}")
real, _ = account(port, "real")
report(13, "real user's recovery after 63 throwaway ones", post(port, "auth/recover.php", {"email": real})[:50])

# 14: three pipelined GETs.
connection = socket.create_connection(("127.0.0.1", port), timeout=5)
connection.sendall(b"GET /generate_204 HTTP/1.1\r\nHost: a\r\n\r\n" * 3)
start = time.time()
raw = b""
connection.settimeout(0.5)
while raw.count(b"HTTP/1.1 ") < 3 and time.time() - start < 8:
    try:
        got = connection.recv(65536)
        if not got:
            break
        raw += got
    except socket.timeout:
        pass
connection.close()
report(14, "pipelined GETs answered (of 3)", f"{raw.count(b'HTTP/1.1 ')} in {time.time() - start:.2f} s")

# 15: a burst of connections, and a job memory no job fits in.
def connect_ms(i):
    start = time.perf_counter()
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(f"127.0.11.{i + 1}", 0))
        times.append((time.perf_counter() - start) * 1000)
        held.append(s)
    except OSError:
        times.append(5000.0)
times, held = [], []
threads = [threading.Thread(target=connect_ms, args=(i,)) for i in range(70)]
[t.start() for t in threads]
[t.join() for t in threads]
[s.close() for s in held]
small = subprocess.Popen([binary, "--port", "0", "--job-memory", "64", "--data", os.path.join(data, "small")],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
try:
    out, _ = small.communicate(timeout=2)
    accepted = f"refused: {out.decode().splitlines()[0][:50]}"
except subprocess.TimeoutExpired:
    small.terminate()
    small.wait()
    accepted = "accepted"
report(15, "burst of 70 connects: slowest; --job-memory 64", f"{max(times):.0f} ms; {accepted}")
main.stop()
EOF
