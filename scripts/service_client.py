"""A small client of the local zelk-service for the benchmark and attack scripts: signed forms, uploads,
accounts and polling, each request from a chosen loopback address."""
import hashlib
import http.client
import io
import json
import math
import random
import string
import struct
import time

BOUNDARY = "----zelkscript"


def signing():
    key = "".join(random.choice(string.ascii_letters + string.digits) for _ in range(10))
    return {"publicKey": key, "accessToken": hashlib.md5(f"{key}!~@@*~!{key}QWEpoi{key}".encode()).hexdigest()}


def password(typed):
    """What the program sends for a typed password."""
    return hashlib.md5(f")^!kq {typed} zx42m".encode()).hexdigest()


def request(port, method, path, body=b"", headers=None, source="127.0.0.1", timeout=30):
    """(status, body) of one request on a connection of its own; status 0 when it failed."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout, source_address=(source, 0))
    try:
        connection.request(method, path, body, headers or {})
        reply = connection.getresponse()
        return reply.status, reply.read()
    except (OSError, http.client.HTTPException):
        return 0, b""
    finally:
        connection.close()


def post(port, path, fields, source="127.0.0.1"):
    body = "&".join(f"{k}={v}" for k, v in {**fields, **signing()}.items()).replace("@", "%40").encode()
    _, reply = request(port, "POST", "/zelk-server/" + path, body,
                       {"Content-Type": "application/x-www-form-urlencoded"}, source)
    return reply.decode(errors="replace")


def multipart(fields, file_bytes, file_name):
    """A form with the file part first, as the program sends it."""
    out = io.BytesIO()

    def part(name, value, filename=None):
        disposition = f'name="{name}"' + (f'; filename="{filename}"' if filename else "")
        out.write(f"--{BOUNDARY}\r\nContent-Disposition: form-data; {disposition}\r\n\r\n".encode())
        out.write(value)
        out.write(b"\r\n")

    part("uploadedFile", file_bytes, file_name)
    for name, value in fields.items():
        part(name, value.encode())
    out.write(f"--{BOUNDARY}--\r\n".encode())
    return out.getvalue()


def wav(frames, rate=44100, channels=2, seed=0):
    """16-bit PCM: two tones, a little apart per seed, the same on every channel."""
    step = 0.05 + seed * 0.001
    one = b"".join(struct.pack("<h", int(8000 * math.sin(i * step) + 4000 * math.sin(i * 0.0131)))
                   for i in range(frames))
    samples = b"".join(one[i:i + 2] * channels for i in range(0, len(one), 2))
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(samples), b"WAVE", b"fmt ", 16, 1, channels,
                         rate, rate * channels * 2, channels * 2, 16, b"data", len(samples))
    return header + samples


def pcm(data):
    """The samples of a WAV this script or the service made."""
    at = data.find(b"data") + 8
    return struct.unpack(f"<{(len(data) - at) // 2}h", data[at:at + (len(data) - at) // 2 * 2])


def song_fields(user_hash, instrument="vocals"):
    return {"instrument": instrument, "version": "full", "fileName": "song", "hash": user_hash,
            "extension": "mp3", "originalFilePath": "/home/me/Music/song.mp3"}


def upload(port, user_hash, audio, instrument="vocals", source="127.0.0.1"):
    """The reply (a song id or a reason) and the upload's file name."""
    name = "/tmp/ZELK/Temp/" + "".join(random.choice(string.ascii_letters) for _ in range(16)) + ".wav"
    body = multipart({**song_fields(user_hash, instrument), **signing()}, audio, name)
    _, reply = request(port, "POST", "/zelk-server/proceed.php", body,
                       {"Content-Type": f"multipart/form-data; boundary={BOUNDARY}"}, source, 120)
    return reply.decode(errors="replace"), name


def account(port, tag, source="127.0.0.1"):
    """(address, user hash) of a new account."""
    email = f"{tag}-{random.randrange(1 << 40)}@example.com"
    post(port, "auth/registration.php", {"email": email, "name": tag, "password": password(tag)}, source)
    try:
        return email, json.loads(post(port, "auth/getInfo.php", {"email": email}, source))["hash"]
    except (ValueError, KeyError):
        return email, ""


def wait_done(port, song, limit=120, source="127.0.0.1"):
    """The first reply of remains.php that is no longer a count of seconds."""
    deadline = time.time() + limit
    while time.time() < deadline:
        reply = post(port, "remains.php", {"songID": song}, source)
        if not reply.lstrip("-").isdigit() or int(reply) <= 0:
            return reply
        time.sleep(0.1)
    return "timed out"
