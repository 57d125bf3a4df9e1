#!/usr/bin/python3
"""A camera of the Varno relay protocol, written from docs/p2p-protocol.md
alone: every layout below comes from the document's tables, none from the
client's headers. It serves presence and license, sessions and pings, stream
descriptions and one live stream, the password check, the alarm log and,
with --ptz, pan, tilt, zoom and presets (section 6.8; without it the camera
answers those messages as one without a head).

    pycam.py --port 1883 --device-id B765432 --password abc123 \
             --video frames.bin [--fps 25] [--width 320 --height 240]
             [--alarms 20] [--ptz]

The video file holds access units, each as u32 length, u8 key flag and the
Annex B bytes. Control lines on standard input, one answer line each:
"quit", "ptz" (the head: "OK <pan> <tilt> <zoom> <moves> <stops> <last
pan,tilt,zoom velocities> <presets>"). "READY" is printed once the camera
is announced.
"""

import argparse
import hashlib
import os
import random
import struct
import sys
import threading
import time

import paho.mqtt.client as mqtt

# --- section 3: the envelope ------------------------------------------------
HEADER = struct.Struct("<2sBBIIIiI40s")    # magic, version, kind, session, request, channel, status, length, sender
assert HEADER.size == 64
VERSION = 1
MAX_BODY = 4 * 1024 * 1024

PRESENCE, LICENSE, MARKER = 0x01, 0x02, 0x03
SESSION_OPEN, SESSION_ACCEPT, SESSION_CLOSE, PING, PONG = 0x10, 0x11, 0x12, 0x13, 0x14
DESCR_REQ, DESCR_RSP, STREAM_OPEN, STREAM_OPEN_RSP, STREAM_CLOSE, STREAM_FRAME = 0x20, 0x21, 0x22, 0x23, 0x24, 0x25
MESSAGE, ERROR = 0x50, 0x7F
KNOWN_KINDS = {0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x14, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25,
               0x30, 0x31, 0x32, 0x33, 0x34, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x50, 0x7F}

OK, REFUSED, NO_STREAM, NO_FILE, NO_SESSION, BAD_REQUEST = 0, -1, -2, -3, -4, -5


def text(value, size):
    raw = value.encode()[: size - 1]
    return raw + b"\0" * (size - len(raw))


def untext(field):
    """The text of a field, or None when it has no NUL."""
    end = field.find(b"\0")
    return None if end < 0 else field[:end].decode(errors="replace")


def valid_id(value):
    """Section 1: a camera or client ID is 1-39 characters of A-Z a-z 0-9 - _;
    an envelope whose sender is anything else is dropped before any topic is
    built from it."""
    return bool(value) and len(value) <= 39 and all(c.isascii() and (c.isalnum() or c in "-_") for c in value)


def envelope(kind, sender, session=0, request=0, channel=0, status=0, body=b""):
    return HEADER.pack(b"VP", VERSION, kind, session, request, channel, status, len(body), text(sender, 40)) + body


def parse(payload):
    if len(payload) < 64:
        return None
    magic, version, kind, session, request, channel, status, length, sender = HEADER.unpack_from(payload)
    if magic != b"VP" or version != VERSION or kind not in KNOWN_KINDS:
        return None
    if length != len(payload) - 64 or length > MAX_BODY:
        return None
    who = untext(sender)
    if not valid_id(who):
        return None
    return dict(kind=kind, session=session, request=request, channel=channel, status=status,
                sender=who, body=payload[64:])


# --- section 6.1: the token -------------------------------------------------
def token(password, number):
    digest = hashlib.md5(("%s:%d:varno" % (password, number)).encode()).hexdigest()
    return digest.encode() + b"\0\0\0\0"   # 32 digits, NUL, zero fill to 36


def token_ok(password, field, number):
    return field[:33] == token(password, number)[:33]


# --- section 6.8: pan, tilt and zoom ------------------------------------------
PTZ_CAPS, PTZ_CAPS_RSP, PTZ_MOVE, PTZ_RESULT, PTZ_STOP = 160, 161, 162, 163, 164
PTZ_PRESETS, PTZ_PRESET_LIST, PTZ_GOTO, PTZ_SET, PTZ_REMOVE = 165, 166, 167, 168, 169
PTZ_REQUEST_SIZE = {PTZ_CAPS: 40, PTZ_MOVE: 52, PTZ_STOP: 40, PTZ_PRESETS: 40, PTZ_GOTO: 44, PTZ_SET: 108,
                    PTZ_REMOVE: 44}
R_DONE, R_PASSWORD, R_NO_PTZ, R_BAD, R_NO_PRESET, R_FULL = 0, 1, 2, 3, 4, 5
MAX_PRESETS = 32


class Head:
    """Pan and tilt -1 .. 1, zoom 0 .. 1; the document leaves the speed to the
    camera: this one crosses the whole range in two seconds at velocity 1000."""

    def __init__(self):
        self.pos = [0.0, 0.0, 0.0]
        self.speed = [0, 0, 0]
        self.last = [0, 0, 0]
        self.since = time.monotonic()
        self.moves = self.stops = 0
        self.mover = None
        self.presets = {}                  # number -> (name, position)

    def advance(self):
        now = time.monotonic()
        dt, self.since = now - self.since, now
        for i, (lo, hi) in enumerate(((-1.0, 1.0), (-1.0, 1.0), (0.0, 1.0))):
            self.pos[i] = min(hi, max(lo, self.pos[i] + self.speed[i] / 1000.0 * dt))

    def halt(self):
        self.speed = [0, 0, 0]
        self.mover = None


# --- the camera --------------------------------------------------------------
class Camera:
    def __init__(self, args):
        self.device_id = args.device_id
        # Section 1: VRN + first character + "-" + six + "-" + five check letters.
        self.camera_id = args.camera_id or "VRN%s-%s-PYCAM" % (args.device_id[0], args.device_id[1:])
        self.password = args.password
        self.host, self.port = args.host, args.port
        self.fps = args.fps
        self.width, self.height = args.width, args.height
        self.lock = threading.RLock()
        self.sessions = {}                 # client ID -> session state
        self.units = read_units(args.video)
        self.sps, self.pps = parameter_sets(self.units)
        now = int(time.time())
        kinds = [1, 2, 11, 12, 31, 32, 7]
        self.alarms = [(kinds[i % 7], now - 3600 + 120 * i, i + 1, "pycam alarm %d" % (i + 1))
                       for i in range(args.alarms)]
        self.head = Head() if args.ptz else None
        self.stopping = False
        self.client = None
        self.pump = threading.Thread(target=self.pump_loop, daemon=True)

    # section 2: topics
    def inbox(self):
        return "varno/v1/cam/%s/in" % self.camera_id

    def presence_topic(self):
        return "varno/v1/cam/%s/presence" % self.camera_id

    def client_inbox(self, client):
        return "varno/v1/cli/%s/in" % client

    def presence(self, online):
        body = text(self.camera_id, 64) + text(self.device_id, 64)
        return envelope(PRESENCE, self.camera_id, status=1 if online else 0, body=body)

    def connect(self):
        self.client = mqtt.Client(client_id="varno-cam-" + self.camera_id, clean_session=True)
        self.client.will_set(self.presence_topic(), self.presence(False), qos=1, retain=True)
        self.client.on_connect = self.on_connect
        self.client.on_message = self.on_message
        self.ready = threading.Event()
        self.client.connect(self.host, self.port, keepalive=10)
        self.client.loop_start()
        if not self.ready.wait(10):
            raise SystemExit("relay did not accept the camera")

    def on_connect(self, client, userdata, flags, rc):
        if rc != 0:
            return
        client.subscribe(self.inbox(), qos=1)
        client.publish(self.presence_topic(), self.presence(True), qos=1, retain=True)
        lic = text(self.camera_id, 64) + text(self.device_id, 64)
        client.publish("varno/v1/lic/%s" % self.device_id, envelope(LICENSE, self.camera_id, body=lic),
                       qos=1, retain=True)
        self.ready.set()

    def disconnect(self):
        """Section 4: SessionClose to each session, then the offline presence."""
        with self.lock:
            for client, s in list(self.sessions.items()):
                self.send(client, s, SESSION_CLOSE)
            self.sessions.clear()
        info = self.client.publish(self.presence_topic(), self.presence(False), qos=1, retain=True)
        info.wait_for_publish(5)
        self.client.disconnect()
        self.client.loop_stop()

    def send(self, client, session, kind, request=0, channel=0, status=0, body=b"", qos=1):
        payload = envelope(kind, self.camera_id, session["id"], request, channel, status, body)
        self.client.publish(self.client_inbox(client), payload, qos=qos)

    def message(self, client, session, mtype, payload):
        # Section 6: camera messages carry request number 0.
        self.send(client, session, MESSAGE, 0, 0, mtype, payload)

    def on_message(self, client, userdata, msg):
        env = parse(msg.payload)
        if env is None:
            return
        with self.lock:
            self.handle(env)

    def handle(self, env):
        who, kind = env["sender"], env["kind"]
        if kind == SESSION_OPEN:
            self.session_ends(who)
            s = {"id": env["session"], "heard": time.monotonic(), "streams": {}}
            self.sessions[who] = s
            # Section 4: device ID (64), stream count u32, nonce u32.
            body = text(self.device_id, 64) + struct.pack("<II", 1, random.getrandbits(32))
            self.send(who, s, SESSION_ACCEPT, env["request"], 0, OK, body)
            return
        s = self.sessions.get(who)
        if s is None or s["id"] != env["session"]:
            if kind not in (PING,):
                self.send(who, {"id": env["session"]}, ERROR, env["request"], env["channel"], NO_SESSION)
            return
        s["heard"] = time.monotonic()
        if kind == PING:
            self.send(who, s, PONG, env["request"], qos=0)
        elif kind == SESSION_CLOSE:
            del self.sessions[who]
            self.session_ends(who)
        elif kind == DESCR_REQ:
            self.send(who, s, DESCR_RSP, env["request"], 0, OK, struct.pack("<i", 1) + self.description(0))
        elif kind == STREAM_OPEN:
            self.stream_open(who, s, env)
        elif kind == STREAM_CLOSE:
            s["streams"].pop(env["channel"], None)
        elif kind == MESSAGE:
            self.camera_message(who, s, env["status"], env["body"])
        else:
            self.send(who, s, ERROR, env["request"], env["channel"], BAD_REQUEST)

    # section 5: stream descriptions, 195 bytes
    def description(self, index):
        d = bytearray(195)
        d[0:64] = text(self.device_id, 64)
        struct.pack_into("<iiiiii", d, 64, index, 1, 0, 0, 512, self.fps * 2)   # H.264, audio codec 0: none
        d[116] = self.fps
        struct.pack_into("<iiiiii", d, 117, 0, self.width, self.height, 0, 0, 0)
        d[141] = len(self.sps)
        d[142] = len(self.pps)
        d[143:143 + len(self.sps)] = self.sps
        d[179:179 + len(self.pps)] = self.pps
        return bytes(d)

    def stream_open(self, who, s, env):
        body, index = env["body"], env["channel"]
        if len(body) < 52:
            self.send(who, s, STREAM_OPEN_RSP, env["request"], index, BAD_REQUEST)
            return
        if index >= 1:
            self.send(who, s, STREAM_OPEN_RSP, env["request"], index, NO_STREAM)
            return
        nonce = struct.unpack_from("<i", body, 0)[0]          # section 3, auth block
        if not token_ok(self.password, body[4:40], nonce):
            self.send(who, s, STREAM_OPEN_RSP, env["request"], index, REFUSED)
            self.message(who, s, 88, struct.pack("<i", index))
            return
        s["streams"][index] = {"pos": 0, "frame": 0, "due": time.monotonic(), "t0": time.monotonic()}
        self.send(who, s, STREAM_OPEN_RSP, env["request"], index, OK)

    # section 6
    def camera_message(self, who, s, mtype, p):
        if mtype in (16, 125) and len(p) >= (44 if mtype == 16 else 76):
            rnd = struct.unpack_from("<i", p, 36)[0]
            result = 0 if token_ok(self.password, p[0:36], rnd) else 1
            out = bytearray(44 if mtype == 16 else 76)
            struct.pack_into("<ii", out, 36, rnd, result)
            self.message(who, s, mtype + 1, bytes(out))
        elif mtype == 127 and len(p) >= 48:
            self.alarm_search(who, s, p)
        elif mtype in PTZ_REQUEST_SIZE and len(p) >= PTZ_REQUEST_SIZE[mtype]:
            self.ptz(who, s, mtype, p)

    def session_ends(self, who):
        # Section 6.8: a move stops with the session that started it.
        if self.head and self.head.mover == who:
            self.head.advance()
            self.head.halt()

    def ptz(self, who, s, mtype, p):
        nonce = struct.unpack_from("<i", p, 36)[0]
        head = self.head
        result = R_DONE
        if not token_ok(self.password, p[0:36], nonce):
            result = R_PASSWORD
        elif head is None:
            result = R_NO_PTZ
        if mtype == PTZ_CAPS:
            caps, room = (7, MAX_PRESETS) if result == R_DONE else (0, 0)
            self.message(who, s, PTZ_CAPS_RSP, struct.pack("<iiIH2x", nonce, result, caps, room))
            return
        if mtype == PTZ_PRESETS:
            entries = sorted(head.presets.items()) if result == R_DONE else []
            body = struct.pack("<iii", nonce, result, len(entries))
            body += b"".join(struct.pack("<i", n) + text(name, 64) for n, (name, _) in entries)
            self.message(who, s, PTZ_PRESET_LIST, body)
            return
        stored = 0
        if result == R_DONE:
            head.advance()
            if mtype == PTZ_MOVE:
                v = list(struct.unpack_from("<iii", p, 40))
                if any(abs(x) > 1000 for x in v):
                    result = R_BAD
                else:
                    head.speed, head.last, head.mover = v, list(v), who
                    head.moves += 1
                    if v == [0, 0, 0]:
                        head.mover = None
            elif mtype == PTZ_STOP:
                head.halt()
                head.stops += 1
            else:
                number = struct.unpack_from("<i", p, 40)[0]
                if mtype == PTZ_SET:
                    name = untext(p[44:108])
                    if not name or not 0 <= number <= 255:
                        result = R_BAD
                    else:
                        if number == 0:
                            number = next((k for k in range(1, 256) if k not in head.presets), 0)
                        if number == 0 or (number not in head.presets and len(head.presets) >= MAX_PRESETS):
                            result = R_FULL
                        else:
                            head.presets[number] = (name, list(head.pos))
                            stored = number
                elif not 1 <= number <= 255:
                    result = R_BAD
                elif number not in head.presets:
                    result = R_NO_PRESET
                elif mtype == PTZ_REMOVE:
                    del head.presets[number]
                else:
                    head.pos = list(head.presets[number][1])
                    head.halt()
        self.message(who, s, PTZ_RESULT, struct.pack("<iiii", nonce, mtype, result, stored))

    def alarm_search(self, who, s, p):
        nonce, start, end = struct.unpack_from("<iii", p, 36)
        if not token_ok(self.password, p[0:36], nonce):
            self.message(who, s, 130, struct.pack("<i", 4))
            return
        self.message(who, s, 130, struct.pack("<i", 1))
        found = [a for a in self.alarms if start <= a[1] <= end]
        # Newest first, in messages of five, each repeating the one before.
        found.reverse()
        previous = None
        for i in range(0, len(found), 5):
            group = found[i:i + 5] + ([previous] if previous else [])
            out = struct.pack("<i", len(group))
            for atype, when, seq, words in group:
                out += struct.pack("<iii", atype, when, seq) + text(words, 40)
            self.message(who, s, 129, out)
            previous = found[i]
        self.message(who, s, 130, struct.pack("<i", 2 if found else 3))

    # the live stream
    def pump_loop(self):
        period = 1.0 / self.fps
        while not self.stopping:
            now = time.monotonic()
            with self.lock:
                for who, s in list(self.sessions.items()):
                    if now - s["heard"] > 20:
                        del self.sessions[who]
                        self.session_ends(who)
                        continue
                    for index, st in s["streams"].items():
                        if st["due"] > now:
                            continue
                        key, data = self.units[st["pos"]]
                        ts = int(st["frame"] * 1000 / self.fps)
                        head = struct.pack("<BBHIIIQ", 1, 1 if key else 0, 0, st["frame"], ts, 0,
                                           int(time.monotonic() * 1e6))
                        self.send(who, s, STREAM_FRAME, 0, index, 0, head + data, qos=0)
                        st["pos"] = (st["pos"] + 1) % len(self.units)
                        st["frame"] += 1
                        st["due"] += period
                        if st["due"] < now - 0.2:
                            st["due"] = now
            time.sleep(0.005)


def read_units(path):
    units = []
    with open(path, "rb") as f:
        blob = f.read()
    pos = 0
    while pos + 5 <= len(blob):
        size, key = struct.unpack_from("<IB", blob, pos)
        units.append((bool(key), blob[pos + 5:pos + 5 + size]))
        pos += 5 + size
    if not units or not units[0][0]:
        raise SystemExit("video must start with a key frame")
    return units


def parameter_sets(units):
    sps = pps = b""
    for nal in units[0][1].split(b"\0\0\0\1"):
        if nal and nal[0] & 0x1F == 7:
            sps = nal
        elif nal and nal[0] & 0x1F == 8:
            pps = nal
    return sps[:36], pps[:8]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=1883)
    ap.add_argument("--device-id", required=True)
    ap.add_argument("--camera-id")
    ap.add_argument("--password", required=True)
    ap.add_argument("--video", required=True)
    ap.add_argument("--fps", type=int, default=25)
    ap.add_argument("--width", type=int, default=320)
    ap.add_argument("--height", type=int, default=240)
    ap.add_argument("--alarms", type=int, default=20)
    ap.add_argument("--ptz", action="store_true")
    args = ap.parse_args()
    if args.host not in ("127.0.0.1", "localhost"):
        raise SystemExit("loopback only")
    cam = Camera(args)
    cam.connect()
    cam.pump.start()
    print("READY", cam.camera_id, flush=True)
    for line in sys.stdin:
        cmd = line.strip()
        if cmd == "ptz":
            with cam.lock:
                h = cam.head
                if h is None:
                    print("ERR no head", flush=True)
                else:
                    h.advance()
                    print("OK %.3f %.3f %.3f %d %d %d,%d,%d %d" % (tuple(h.pos) + (h.moves, h.stops) + tuple(h.last)
                                                                + (len(h.presets),)), flush=True)
        elif cmd == "quit":
            break
        else:
            print("ERR unknown command", flush=True)
    cam.stopping = True
    cam.disconnect()
    os._exit(0)


if __name__ == "__main__":
    main()
