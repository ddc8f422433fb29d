"""The browser remote control (tarvik -serve), the real program on a .vcd
recording: one table of requests with their statuses, answers and frames;
one table of hostile clients; the Windows build under wine; the page in
headless Chromium. Every server a test starts, the test stops."""

import fcntl
import http.client
import json
import os
import queue
import re
import shutil
import signal
import socket
import statistics
import subprocess
import tempfile
import threading
import time

import pytest

from conftest import SLOWDOWN, TARVIK, run, vcd_frames

WAIT = 30 * SLOWDOWN  # for anything that should happen at once; reached only on failure
STOPPING = {"error": "the remote control is stopping"}


class Served:
    """tarvik -serve on a recording, its first line read, an event stream open
    (unless listen is false), stopped with Ctrl-C by stop() or on leaving."""

    def __init__(self, work, args=(), listen=True, argv=None, env=None, vcd="x.vcd"):
        self.vcd = os.path.join(work, vcd)
        argv = argv or [TARVIK, "-serve", "127.0.0.1:0", "-nowakeup", "-port", self.vcd]
        self.proc = subprocess.Popen(argv + list(args), env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.status = None
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(self.proc.stdout.readline()), daemon=True).start()
        try:
            self.first = lines.get(timeout=WAIT * 2).decode()
        except queue.Empty:
            self.first = ""
        match = re.fullmatch(r"tarvik: remote control at (http://([^/]+):(\d+)/(\?key=(\w+))?)\r?\n",
                             self.first)
        if not match:
            self.stop()
            raise AssertionError("no address in %r" % self.first)
        self.url, self.port, self.key = match.group(1), int(match.group(3)), match.group(5)
        self.host = "127.0.0.1:%d" % self.port
        self.events = []
        self.event_seen = threading.Condition()
        if listen:
            self.stream = self.open_stream()
            threading.Thread(target=self._listen, args=(self.stream,), daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.status is None:
            self.stop()

    def call(self, method, path, body=None, headers=None, timeout=WAIT, text=False):
        """(status, answer): the answer parsed when it is JSON, unless text."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            if isinstance(body, (dict, list)):
                body = json.dumps(body)
            headers = dict(headers or {})
            if body is not None and method == "POST":
                headers.setdefault("Content-Type", "application/json")
            conn.request(method, path, body, headers)
            answer = conn.getresponse()
            content = answer.read().decode(errors="replace")
            if answer.getheader("Content-Type") == "application/json" and not text:
                return answer.status, json.loads(content)
            return answer.status, content
        finally:
            conn.close()

    def press(self, command, **more):
        return self.call("POST", "/api/send", dict(command=command, **more))

    def open_stream(self, last_event_id=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT * 4)
        headers = {} if last_event_id is None else {"Last-Event-ID": last_event_id}
        conn.request("GET", "/api/events", headers=headers)
        answer = conn.getresponse()
        assert answer.status == 200
        return answer

    def _listen(self, stream):
        try:
            for line in stream:
                if line.startswith(b"data: "):
                    with self.event_seen:
                        self.events.append(json.loads(line[6:]))
                        self.event_seen.notify_all()
        except (OSError, ValueError, http.client.HTTPException):
            pass

    def wait_for(self, predicate):
        with self.event_seen:
            assert self.event_seen.wait_for(lambda: any(map(predicate, self.events)), WAIT), \
                self.events

    def frames(self):
        return [e for e in self.events if e["type"] == "frame"]

    def stop(self):
        """Ctrl-C: the exit status, seconds to exit, what it printed after its
        first line, and the recording."""
        started = time.monotonic()
        self.proc.send_signal(signal.SIGINT)
        try:
            out, err = self.proc.communicate(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
        self.status = self.proc.returncode
        self.seconds = time.monotonic() - started
        self.out, self.err = out.decode(errors="replace"), err.decode(errors="replace")
        # Beyond loopback the network's addresses follow the first line at
        # start (test_page.py reads them): only what comes after counts.
        self.out = re.sub(r"^(tarvik: on this network: .*\n)+", "", self.out)
        recording = ""
        if os.path.exists(self.vcd):
            with open(self.vcd) as f:
                recording = f.read()
        return self.status, self.out, recording


def frames_match(recording, events):
    """The recording holds exactly the frames the events report: as many
    break edges, and when no frame was disturbed (a busy machine can delay a
    pulse), the same codes."""
    assert recording.split().count("1!") == sum(e["bits"] + 1 for e in events)
    if not any(e["disturbed"] for e in events):
        assert vcd_frames(recording) == [(e["code"] & (0xFF if e["bits"] == 8 else 0xFFF), e["bits"])
                                         for e in events]


@pytest.fixture(autouse=True, scope="module")
def remote_built():
    if "missing [ADDRESS:]PORT" not in run([TARVIK, "-serve"], timeout=30).out:
        pytest.skip("built without the remote control")


@pytest.fixture
def work():
    path = tempfile.mkdtemp(prefix="tarvik-remote-")
    yield path
    shutil.rmtree(path, ignore_errors=True)


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=WAIT)


def raw(port, data, read=True):
    """Sends bytes on a new connection; what comes back until it closes."""
    with connect(port) as s:
        try:
            s.sendall(data)
        except OSError:
            pass
        return receive_all(s) if read else b""


def receive_all(s):
    got = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return got
            got += chunk
    except OSError:
        return got


def status_of(answer):
    match = re.match(rb"HTTP/1\.1 (\d+)", answer)
    return int(match.group(1)) if match else None


# Rows: method, path, body (None, text, or JSON), extra headers, status,
# answer (JSON, or the start of the text), frames as (code, bits). The Host
# "OWN" is the server's own with another name put in front.
H = "127.0.0.1:{port}"
REQUESTS = [
    ("POST", "/api/send", {"command": "walk_forward", "model": 1}, {}, 200, {"code": 134, "bits": 8}, [(0x86, 8)]),
    ("POST", "/api/send", {"command": "D3_walking", "model": 2}, {}, 200, {"code": 771, "bits": 12}, [(0x303, 12)]),
    ("POST", "/api/send", {"command": "0x1a0"}, {}, 200, {"code": 416, "bits": 12}, [(0x1A0, 12)]),
    ("POST", "/api/send", {"command": "0x86"}, {}, 200, {"code": 134, "bits": 8}, [(0x86, 8)]),
    ("POST", "/api/send", {"command": "0xFFFFFFFF"}, {}, 200, {"code": 0xFFFFFFFF, "bits": 12}, [(0xFFF, 12)]),
    ("POST", "/api/send", {"model": 3, "command": "stop"}, {}, 200, {"code": 654, "bits": 12}, [(0x28E, 12)]),
    ("POST", "/api/send", {"command": "stop"}, {"Content-Type": "application/json; charset=utf-8"}, 200, {"code": 142, "bits": 8}, [(0x8E, 8)]),
    ("POST", "/api/send", {"command": "stop"}, {"Host": "localhost:{port}"}, 200, {"code": 142, "bits": 8}, [(0x8E, 8)]),
    ("POST", "/api/send", {"command": "nosuch"}, {}, 400, {"error": "unrecognized command: nosuch"}, []),
    ("POST", "/api/send", {"command": "stop\u0000"}, {}, 400, {"error": "unrecognized command: stop\u0000"}, []),
    ("POST", "/api/send", {"command": "0xzz"}, {}, 400, {"error": "unrecognized command: 0xzz"}, []),
    ("POST", "/api/send", {"command": "0x"}, {}, 400, {"error": "unrecognized command: 0x"}, []),
    ("POST", "/api/send", {"command": "0x86 "}, {}, 400, {"error": "unrecognized command: 0x86 "}, []),
    ("POST", "/api/send", {"command": "0x100000000"}, {}, 400, {"error": "unrecognized command: 0x100000000"}, []),
    ("POST", "/api/send", {"command": "0xffffffffffff"}, {}, 400, {"error": "unrecognized command: 0xffffffffffff"}, []),
    ("POST", "/api/send", {"command": "stop", "speed": 2}, {}, 400, {"error": "unknown field: speed"}, []),
    ("POST", "/api/send", {"command": "stop", "model": 4}, {}, 400, {"error": "model must be 1, 2 or 3"}, []),
    ("POST", "/api/send", {"command": "stop", "model": 4294967298}, {}, 400, {"error": "model must be 1, 2 or 3"}, []),
    ("POST", "/api/send", {"command": "stop", "model": -1}, {}, 400, {"error": "model must be 1, 2 or 3"}, []),
    ("POST", "/api/send", {"command": "stop", "model": 2.0}, {}, 400, {"error": "model must be 1, 2 or 3"}, []),
    ("POST", "/api/send", {"command": "stop", "model": "2"}, {}, 400, {"error": "model must be 1, 2 or 3"}, []),
    ("POST", "/api/send", {"command": 5}, {}, 400, {"error": "expected a string field: command"}, []),
    ("POST", "/api/send", [1], {}, 400, {"error": "malformed JSON: expected an object"}, []),
    ("POST", "/api/send", "{", {}, 400, {"error": "malformed JSON: expected an object"}, []),
    # Who may drive the robot: a page on another site through DNS rebinding
    # or a form, never.
    ("POST", "/api/send", {"command": "stop"}, {"Host": "rebound.example:{port}"}, 403, {"error": "request for another host"}, []),
    ("POST", "/api/send", {"command": "stop"}, {"Host": "127.attacker.example:{port}", "Origin": "http://127.attacker.example:{port}"}, 403, {"error": "request for another host"}, []),
    ("POST", "/api/send", {"command": "stop"}, {"Host": "127.0.0.1.nip.io:{port}", "Origin": "http://127.0.0.1.nip.io:{port}"}, 403, {"error": "request for another host"}, []),
    ("POST", "/api/send", {"command": "stop"}, {"Host": "127.0.0.1@evil.example:{port}", "Origin": "http://127.0.0.1@evil.example:{port}"}, 403, {"error": "request for another host"}, []),
    ("POST", "/api/send", {"command": "stop"}, {"Origin": "http://elsewhere.example"}, 403, {"error": "request from another origin"}, []),
    ("POST", "/api/send", {"command": "stop"}, {"Content-Type": "text/plain"}, 415, {"error": "expected Content-Type: application/json"}, []),
    ("POST", "/api/send", '{"command": "stop"}', {"Content-Type": "application/x-www-form-urlencoded"}, 415, {"error": "expected Content-Type: application/json"}, []),
    ("POST", "/api/send", {"command": "stop"}, {"Content-Type": "application/jsonp"}, 415, {"error": "expected Content-Type: application/json"}, []),
    ("POST", "/api/script", " " * (1 << 20) + "{}", {}, 413, {"error": "request body larger than 1 MiB"}, []),
    ("POST", "/api/stop", {}, {}, 200, {"stopped": False}, []),
    ("GET", "/api/commands?model=3", None, {}, 200, '[{"name":"wake_up","code":', []),
    ("GET", "/api/commands?model=2", None, {}, 200, '[{"name":"_walking","code":768},', []),
    ("GET", "/api/commands", None, {}, 200, '[{"name":"turn_right","code":128},', []),
    ("GET", "/api/commands?model=4", None, {}, 400, {"error": "model must be 1, 2 or 3"}, []),
    ("GET", "/api/status", None, {}, 200, '{"realtime":"', []),  # the route, as the user's rights give it
    ("GET", "/nothing", None, {}, 404, {"error": "no such page"}, []),
    ("GET", "/api/send", None, {}, 404, {"error": "no such page"}, []),
    ("GET", "/", None, {}, 200, "<!DOCTYPE html>", []),
]


def check_rows(served, rows, frames):
    for method, path, body, headers, status, answer, sent in rows:
        headers = {k: v.format(port=served.port) for k, v in headers.items()}
        got = served.call(method, path, body, headers, text=isinstance(answer, str))
        expected = got[1][:len(answer)] if isinstance(answer, str) else got[1]
        assert (got[0], expected) == (status, answer), (method, path, body, headers)
        frames += sent


def test_requests_answers_and_frames(work):
    frames = []
    with Served(work) as served:
        check_rows(served, REQUESTS, frames)
        # The page opens on the server's model; every answer forbids caching.
        assert 'data-model="1"' in served.call("GET", "/")[1]
        served.wait_for(lambda e: len(served.frames()) == len(frames))
        status, out, recording = served.stop()
    assert (status, out) == (130, "")
    frames_match(recording, served.frames())
    assert [(e["code"] & 0xFFF, e["bits"]) for e in served.frames()] == frames

    # Beyond loopback every request but the page carries the key.
    with Served(work, ["-pet"], listen=False,
                argv=[TARVIK, "-serve", "0.0.0.0:0", "-nowakeup", "-port", os.path.join(work, "k.vcd")]) as served:
        assert re.fullmatch(r"http://0\.0\.0\.0:\d+/\?key=[0-9a-f]{32}", served.url)
        key = served.key
        wrong = key[:31] + ("1" if key[31] == "0" else "0")
        cases = [
            ("/", {}, 200),
            ("/api/commands", {}, 403),
            ("/api/commands?key=" + key, {}, 200),
            ("/api/commands?key=" + wrong, {}, 403),
            ("/api/commands", {"Cookie": "lang=en; tarvik_key=" + key}, 200),
            ("/api/commands", {"Cookie": "tarvik_key=" + wrong}, 403),
            ("/api/commands?key=" + key, {"Host": "robot.local:%d" % served.port}, 200),
        ]
        for path, headers, status in cases:
            assert served.call("GET", path, headers=headers)[0] == status, (path, headers)
        assert served.call("GET", "/api/commands?key=" + key)[1][0]["name"] == "wake_up"
        assert 'data-model="3"' in served.call("GET", "/")[1]
        assert served.call("POST", "/api/send?key=" + key, {"command": "stop"}) == (200, {"code": 654, "bits": 12})
        assert served.stop()[:2] == (130, "")


def test_cannot_listen(work):
    """An address that is not this machine's, or a port taken: status 1, and
    the port opened for nothing is closed."""
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        for where in ("192.0.2.1:8080", "127.0.0.1:%d" % taken.getsockname()[1]):
            r = run([TARVIK, "-serve", where, "-nowakeup", "-port", os.path.join(work, "n.vcd")],
                    timeout=30)
            assert (r.status, r.out) == (1, "tarvik: cannot listen on %s: the port is taken, or "
                                            "the address is not this machine's\n" % where)


def test_scripts_and_events(work):
    with Served(work) as served:
        text = "0 walk_forward\r\n\n# 5 stop\n1 nosuch\n0 0x8e\n"
        assert served.call("POST", "/api/script", {"text": text}) == (202, {"playing": True})
        served.wait_for(lambda e: e.get("state") == "ended")
        assert [dict((k, v) for k, v in e.items() if k != "time") for e in served.events] == [
            {"type": "script", "state": "playing", "lines": 5},
            {"type": "progress", "line": 1, "lines": 5},
            {"type": "frame", "name": "walk_forward", "code": 134, "bits": 8, "disturbed": served.events[2]["disturbed"], "line": 1},
            {"type": "progress", "line": 4, "lines": 5},
            {"type": "unknown", "line": 4, "name": "nosuch"},
            {"type": "progress", "line": 5, "lines": 5},
            {"type": "frame", "name": "0x8e", "code": 142, "bits": 8, "disturbed": served.events[6]["disturbed"], "line": 5},
            {"type": "script", "state": "ended", "lines": 5},
        ]
        # One thing at a time on the line: a press waits for no script.
        assert served.call("POST", "/api/script", {"text": "0 stop\n100000 stop", "model": 2})[0] == 202
        served.wait_for(lambda e: e.get("code") == 0x3AA)
        busy = {"error": "a script is playing: stop it first"}
        assert served.call("POST", "/api/script", {"text": "0 stop"}) == (409, busy)
        assert served.press("stop") == (409, busy)
        assert served.call("POST", "/api/stop", {}) == (200, {"stopped": True})
        served.wait_for(lambda e: e.get("state") == "stopped")
        assert served.press("stop") == (200, {"code": 142, "bits": 8})
        served.wait_for(lambda e: len(served.frames()) == 4)
        # A client that reconnects gets what it missed; one naming an event
        # above the newest (an earlier run's) or no number is a new client:
        # it starts at the present and misses nothing after.
        latest = len(served.events)
        streams = {seen: served.open_stream(seen) for seen in ("%d" % (latest - 1), "1000", "x")}
        assert served.press("reset") == (200, {"code": 174, "bits": 8})
        for seen, stream in streams.items():
            first = json.loads([stream.readline() for _ in range(3)][1][6:])
            assert first["type"] == "frame" and first["name"] == ("stop" if seen != "1000" and seen != "x" else "reset"), seen
            stream.close()
        status, out, recording = served.stop()
    assert (status, out) == (130, "")
    frames_match(recording, served.frames())


def test_windows_build_under_wine(work):
    builds = [("wine", os.environ.get("TARVIK_WINDOWS_BUILD_DIR", "")),
              ("/usr/lib/wine/wine64", os.environ.get("TARVIK_WINDOWS64_BUILD_DIR", ""))]
    if not any(build for _, build in builds):
        pytest.skip("no Windows build to try (TARVIK_WINDOWS_BUILD_DIR)")
    prefix = os.path.join(work, "wine")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    # 32-bit where the machine runs 32-bit programs, else 64-bit under wine64.
    runs = lambda wine: subprocess.run(["timeout", "120", wine, "cmd", "/c", "exit"], env=env,
                                       capture_output=True).returncode == 0
    wine, build = next(((w, b) for w, b in builds if b and runs(w)), (None, None))
    assert wine, "no wine runs here"
    try:
        with Served(work, argv=[wine, os.path.join(build, "tarvik.exe"), "-serve", "127.0.0.1:0",
                                "-nowakeup", "-port", "C:\\x.vcd"], env=env) as served:
            assert served.call("GET", "/api/commands?model=1")[1][0] == {"name": "turn_right", "code": 0x80}
            assert served.press("stop") == (200, {"code": 0x8E, "bits": 8})
            assert served.press("0xzz")[0] == 400
            served.wait_for(lambda e: e["type"] == "frame")
            assert served.stop()[:2] == (130, "")
    finally:
        subprocess.run(["timeout", "60", "wineserver", "-k"], env=env, check=False)
    with open(os.path.join(prefix, "drive_c", "x.vcd")) as recording:
        frames_match(recording.read(), served.frames())


# Hostile and careless clients: one function a row, each with its own server,
# each bounded by the time limits of its requests.

def crowd(work):
    """300 idle connections and 100 open event streams: the page and a press
    still answer at once, and every stream hears of the frame."""
    with Served(work) as served:
        idle = [connect(served.port) for _ in range(300)]
        streams = [served.open_stream() for _ in range(100)]
        times = []
        for _ in range(5):
            started = time.monotonic()
            assert served.press("stop") == (200, {"code": 142, "bits": 8})
            times.append(time.monotonic() - started)
        assert served.call("GET", "/", text=True)[0] == 200
        assert statistics.median(times) < 0.1 * SLOWDOWN, times  # a frame takes 28 ms of it
        for stream in streams:
            assert stream.readline().startswith(b"id: ")
            stream.close()
        for s in idle:
            s.close()
        assert served.stop()[:2] == (130, "")


def too_many_streams(work):
    """The 257th event stream gets 503; the page and the API go on answering,
    and a stream closed makes room for another."""
    with Served(work, listen=False) as served:
        ask = ("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % served.host).encode()
        streams = []
        for _ in range(256):
            s = connect(served.port)
            s.sendall(ask)
            streams.append(s)
        for s in streams:
            assert s.recv(12) == b"HTTP/1.1 200"
        answer = raw(served.port, ask.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
        assert status_of(answer) == 503 and answer.endswith(
            b'{"error":"too many event streams: close a page of the remote"}'), answer
        assert served.press("stop")[0] == 200
        assert served.call("GET", "/", text=True)[0] == 200
        streams.pop().close()
        time.sleep(0.2)  # the server notices the stream is gone when it reads its end
        s = connect(served.port)
        s.sendall(ask)
        assert s.recv(12) == b"HTTP/1.1 200"
        s.close()
        for s in streams:
            s.close()
        assert served.stop()[:2] == (130, "")


def too_many_connections(work):
    """Beyond 512 connections a new one is closed at once."""
    with Served(work, listen=False) as served:
        held = [connect(served.port) for _ in range(512)]
        extra = connect(served.port)
        extra.sendall(("GET / HTTP/1.1\r\nHost: %s\r\n\r\n" % served.host).encode())
        assert receive_all(extra) == b""
        extra.close()
        held.pop().close()
        time.sleep(0.2)
        assert served.call("GET", "/", text=True)[0] == 200
        for s in held:
            s.close()
        assert served.stop()[:2] == (130, "")


def dribblers(work):
    """16 clients send a header byte a second: the server answers others
    meanwhile and closes each 10 s after its first byte."""
    with Served(work, listen=False) as served:
        slow = [connect(served.port) for _ in range(16)]
        started = time.monotonic()
        closed_at = {}
        while len(closed_at) < len(slow) and time.monotonic() - started < 20 * SLOWDOWN:
            for i, s in enumerate(slow):
                if i not in closed_at:
                    try:
                        s.sendall(b"G")
                    except OSError:
                        closed_at[i] = time.monotonic() - started
            assert served.call("GET", "/", text=True)[0] == 200
            time.sleep(1)
        assert len(closed_at) == 16 and min(closed_at.values()) >= 9, closed_at
        for s in slow:
            s.close()
        assert served.stop()[:2] == (130, "")


def idle_keep_alive(work):
    """A connection that asks nothing is closed after 5 s."""
    with Served(work, listen=False) as served:
        s = connect(served.port)
        started = time.monotonic()
        assert receive_all(s) == b""
        assert 4 <= time.monotonic() - started < 15 * SLOWDOWN
        s.close()
        assert served.stop()[:2] == (130, "")


def slow_client_then_ctrl_c(work):
    """Ctrl-C with a client halfway through its request and a stream open:
    exit 130 at once."""
    with Served(work) as served:
        s = connect(served.port)
        s.sendall(b"POST /api/send HTTP/1.1\r\nHost: ")
        status, out, _ = served.stop()
        assert (status, out) == (130, "")
        assert served.seconds < 2 * SLOWDOWN, served.seconds  # 0.5 s on a quiet machine
        s.close()


def big_bodies(work):
    """A chunked body past 1 MiB gets 413 and sends nothing, whether it is
    endless or valid JSON after 2 MiB of blanks."""
    with Served(work) as served:
        head = ("POST /api/send HTTP/1.1\r\nHost: %s\r\nContent-Type: application/json\r\n"
                "Transfer-Encoding: chunked\r\n\r\n" % served.host).encode()
        blanks = b"100000\r\n" + b" " * 0x100000 + b"\r\n"
        body = blanks * 2 + b'13\r\n{"command": "stop"}\r\n0\r\n\r\n'
        answer = raw(served.port, head + body)
        assert status_of(answer) == 413 and answer.endswith(b'{"error":"request body larger than 1 MiB"}')
        with connect(served.port) as s:  # 64 MiB, sent until the server stops reading
            try:
                s.sendall(head)
                for _ in range(64):
                    s.sendall(blanks)
            except OSError:
                pass
            assert status_of(receive_all(s)) in (413, None)
        assert served.press("stop")[0] == 200
        served.wait_for(lambda e: e["type"] == "frame")
        status, out, recording = served.stop()
    assert (status, out) == (130, "")
    frames_match(recording, served.frames())
    assert len(served.frames()) == 1


def big_headers(work):
    """Headers past 8 KiB get 431, however many megabytes follow."""
    with Served(work, listen=False) as served:
        head = ("GET / HTTP/1.1\r\nHost: %s\r\n" % served.host).encode()
        answer = raw(served.port, head + b"X-Pad: " + b"a" * 9000 + b"\r\n\r\n")
        assert status_of(answer) == 431 and answer.endswith(b'{"error":"request header larger than 8 KiB"}')
        with connect(served.port) as s:
            try:
                s.sendall(head)
                for _ in range(64):
                    s.sendall(b"X-Pad: " + b"a" * (1 << 20) + b"\r\n")
            except OSError:
                pass
            assert status_of(receive_all(s)) in (431, None)
        assert served.call("GET", "/", text=True)[0] == 200
        assert served.stop()[:2] == (130, "")


def stream_not_read(work):
    """A page that stops reading its event stream is dropped once 256 KiB
    wait for it; the others hear everything and presses go on."""
    with Served(work) as served:
        stuck = socket.socket()
        stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck.settimeout(5 * SLOWDOWN)  # it is dropped long before we read
        stuck.connect(("127.0.0.1", served.port))
        stuck.sendall(("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % served.host).encode())
        name = "n" * 47  # each line: a progress and an unknown event, about 170 bytes
        script = "0 %s\n" % name * 3000
        assert served.call("POST", "/api/script", {"text": script})[0] == 202
        served.wait_for(lambda e: e.get("state") == "ended")
        assert len([e for e in served.events if e["type"] == "unknown"]) == 3000
        assert served.press("stop") == (200, {"code": 142, "bits": 8})
        got, dropped, until = b"", False, time.monotonic() + WAIT
        while not dropped and time.monotonic() < until:  # what it had before it was dropped
            try:
                chunk = stuck.recv(65536)
            except ConnectionResetError:
                chunk = b""
            got += chunk
            dropped = not chunk
        assert dropped and 0 < len(got) < 500 * 1024, len(got)
        stuck.close()
        assert served.stop()[:2] == (130, "")


def unprivileged_user(work):
    """A user's limit on locked memory (8 MiB by default) never stops the
    server's threads or its connections' memory."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        pytest.skip("needs root to run as another user")
    os.chmod(work, 0o777)
    user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
    with Served(work, argv=user + [TARVIK, "-serve", "127.0.0.1:0", "-nowakeup", "-port",
                                   os.path.join(work, "x.vcd")]) as served:
        streams = [served.open_stream() for _ in range(100)]
        assert served.call("POST", "/api/script", {"text": "0 nosuch\n" * 2000 + "0 stop"})[0] == 202
        served.wait_for(lambda e: e.get("state") == "ended")
        assert served.press("stop") == (200, {"code": 142, "bits": 8})
        for stream in streams:
            stream.close()
        assert served.stop()[:2] == (130, "")


def nobody_reads_stdout(work):
    """Whoever started the program reads its first line only: unknown names
    and scripts write nothing more, so nothing ever waits on the full pipe."""
    with Served(work) as served:
        fcntl.fcntl(served.proc.stdout.fileno(), 1031, 4096)  # F_SETPIPE_SZ: a small pipe
        for _ in range(200):
            assert served.press("nosuch")[0] == 400
        assert served.call("POST", "/api/script", {"text": "0 nosuch\n" * 200 + "0 stop"})[0] == 202
        served.wait_for(lambda e: e.get("state") == "ended")
        assert served.press("stop") == (200, {"code": 142, "bits": 8})
        assert served.stop()[:2] == (130, "")


def ctrl_c_with_presses_queued(work):
    """50 presses queued, then Ctrl-C: the frame on the line finishes, every
    other press is answered 503 and never sent."""
    with Served(work) as served:
        answers, sent = queue.Queue(), threading.Semaphore(0)
        request = ("POST /api/send HTTP/1.1\r\nHost: %s\r\nContent-Type: application/json\r\n"
                   "Connection: close\r\nContent-Length: 18\r\n\r\n{\"command\":\"stop\"}" % served.host).encode()

        def press():
            with connect(served.port) as s:
                s.sendall(request)
                sent.release()
                answers.put(receive_all(s))

        threads = [threading.Thread(target=press, daemon=True) for _ in range(50)]
        for t in threads:
            t.start()
        for _ in threads:
            assert sent.acquire(timeout=WAIT)
        first = answers.get(timeout=WAIT)  # one frame is out: the rest wait behind it
        time.sleep(0.05)
        status, out, recording = served.stop()
        for t in threads:
            t.join(WAIT)
        got = [first] + [answers.get_nowait() for _ in range(49)]
        bodies = [json.loads(a[a.index(b"\r\n\r\n") + 4:]) for a in got]
        ok = [b for b in bodies if b == {"code": 142, "bits": 8}]
        assert len(ok) + bodies.count(STOPPING) == 50 and bodies.count(STOPPING) > 0, bodies
    assert (status, out) == (130, "")
    assert recording.split().count("1!") == 9 * len(ok)


def rebinding_and_forms(work):
    """Names that only start like loopback, and a cross-site form's text
    body: refused, and nothing is sent."""
    rows = [row for row in REQUESTS if row[4] in (403, 415)]
    with Served(work) as served:
        check_rows(served, rows, [])
        assert served.press("stop")[0] == 200
        served.wait_for(lambda e: e["type"] == "frame")
        status, out, recording = served.stop()
    assert (status, out) == (130, "")
    assert recording.split().count("1!") == 9


HOSTILE = [crowd, too_many_streams, too_many_connections, dribblers, idle_keep_alive,
           slow_client_then_ctrl_c, big_bodies, big_headers, stream_not_read, unprivileged_user,
           nobody_reads_stdout,
           ctrl_c_with_presses_queued, rebinding_and_forms]


@pytest.mark.parametrize("client", HOSTILE, ids=[f.__name__ for f in HOSTILE])
def test_hostile_clients(work, client):
    client(work)
