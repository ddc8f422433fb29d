"""The remote (tarvik -serve) on a .vcd recording: requests, the key, scripts and events, wine,
the limits that hold whatever clients do. (The access rule row by row: test_remote.cpp.)"""

import contextlib
import fcntl
import json
import os
import re
import select
import shutil
import socket
import tempfile
import time

import pytest

from conftest import SLOWDOWN, TARVIK, WAIT, Served, run, vcd_frames

STOP = {"code": 142, "bits": 8}  # on the server's model, 1


def frames_match(recording, events):
    """As many break edges as the events' frames, and unless one was disturbed, their codes."""
    assert recording.split().count("1!") == sum(e["bits"] + 1 for e in events)
    if not any(e["disturbed"] for e in events):
        assert vcd_frames(recording) == [(e["code"] & (1 << e["bits"]) - 1, e["bits"]) for e in events]


pytestmark = pytest.mark.skipif("missing [ADDRESS:]PORT" not in run([TARVIK, "-serve"], timeout=30).out,
                                reason="built without the remote control")


def connect(port, *chunks):
    """A connection that has sent the chunks, or as many as the server read."""
    s = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
    with contextlib.suppress(ConnectionError):
        for chunk in chunks:
            s.sendall(chunk)
    return s


def answer_of(s):
    """What comes back until the server closes the connection."""
    got = []
    with s, contextlib.suppress(ConnectionError):
        for chunk in iter(lambda: s.recv(65536), b""):
            got.append(chunk)
    return b"".join(got)


E = lambda message: {"error": message}
SEND = ("POST", "/api/send")
# Rows: method, path, body (None, text, or JSON), extra headers, status, answer
# (JSON, or the start of the text). A press answered 200 sends its frame.
REQUESTS = [
    (*SEND, {"command": "walk_forward", "model": 1}, {}, 200, {"code": 0x86, "bits": 8}),
    (*SEND, {"command": "D3_walking", "model": 2}, {}, 200, {"code": 0x303, "bits": 12}),
    (*SEND, {"model": 3, "command": "stop"}, {}, 200, {"code": 0x28E, "bits": 12}),
    # Above 0xFF a 12-bit frame; up to 32 bits, of which the frame takes 12.
    (*SEND, {"command": "0x1a0"}, {}, 200, {"code": 0x1A0, "bits": 12}),
    (*SEND, {"command": "0xFFFFFFFF"}, {}, 200, {"code": 0xFFFFFFFF, "bits": 12}),
    (*SEND, {"command": "0xff"}, {}, 200, {"code": 0xFF, "bits": 8}),
    (*SEND, {"command": "0x8E"}, {"Content-Type": "Application/JSON; charset=utf-8", "Host": "localhost:{port}"}, 200, STOP),
    *[(*SEND, {"command": c}, {}, 400, E("unrecognized command: " + c)) for c in ("nosuch", "stop\0", "0x8z", "0x", "0x100000000")],
    *[(*SEND, {"command": "stop", "model": m}, {}, 400, E("model must be 1, 2 or 3")) for m in (4, 4294967298, 2.0)],
    (*SEND, {"command": "stop", "speed": 2}, {}, 400, E("unknown field: speed")),
    (*SEND, {"command": 5}, {}, 400, E("expected a string field: command")),
    *[(*SEND, body, {}, 400, E("malformed JSON: expected an object")) for body in ([1], "{")],
    # Never a page of another site, through DNS rebinding or a form.
    (*SEND, {"command": "stop"}, {"Host": "127.attacker.example:{port}"}, 403, E("request for another host")),
    (*SEND, {"command": "stop"}, {"Origin": "http://elsewhere.example"}, 403, E("request from another origin")),
    *[(*SEND, '{"command": "stop"}', {"Content-Type": t}, 415, E("expected Content-Type: application/json"))
      for t in ("application/x-www-form-urlencoded", "application/jsonp")],
    ("POST", "/api/script", " " * (1 << 20) + "{}", {}, 413, E("request body larger than 1 MiB")),
    ("POST", "/api/stop", {}, {}, 200, {"stopped": False}),
    ("GET", "/api/commands?model=2", None, {}, 200, '[{"name":"_walking","code":768},'),
    ("GET", "/api/commands?model=4", None, {}, 400, E("model must be 1, 2 or 3")),
    ("GET", "/api/status", None, {}, 200, '{"realtime":"'),  # as the user's rights give it
    *[("GET", path, None, {}, 404, E("no such page")) for path in ("/nothing", "/api/send")],
    ("GET", "/", None, {}, 200, "<!DOCTYPE html>"),
]


def test_requests_answers_and_frames(tmp_path):
    sent = []
    with Served(tmp_path) as served:
        for method, path, body, headers, status, answer in REQUESTS:
            headers = {k: v.format(port=served.port) for k, v in headers.items()}
            got, text = served.call(method, path, body, headers, text=isinstance(answer, str)), isinstance(answer, str)
            assert (got[0], got[1][:len(answer)] if text else got[1]) == (status, answer), (method, path, body, headers)
            sent += [answer] if path == "/api/send" and status == 200 else []
        served.wait_for(lambda e: len(served.frames()) == len(sent))
        listed = re.findall(r"^ +(\S+) \((\w+)\)$", run([TARVIK, "-commands"]).out, re.M)  # the page's buttons
        assert [(c["name"], c["code"]) for c in served.call("GET", "/api/commands")[1]] == [(n, int(h, 16)) for n, h in listed]
        status, out, recording = served.stop()
    assert (status, out) == (130, "")
    with Served(tmp_path, at=served.host):  # at once on its port, which closed connections still name
        pass
    assert [(e["code"], e["bits"]) for e in served.frames()] == [(a["code"], a["bits"]) for a in sent]
    frames_match(recording, served.frames())


def test_key_beyond_loopback_and_no_place_to_listen(tmp_path):
    """Every request but the page carries the key, in the query or a cookie. An
    address not this machine's, or a port taken: status 1."""
    with Served(tmp_path, ["-pet"], listen=False, at="0.0.0.0:0") as served:
        assert re.fullmatch(r"http://0\.0\.0\.0:\d+/\?key=[0-9a-f]{32}", served.url)
        assert served.call("GET", "/api/commands?key=" + served.key[:31] + "-")[0] == 403
        assert served.call("GET", "/api/commands", headers={"Cookie": "lang=en; tarvik_key=" + served.key})[1][0]["name"] == "wake_up"
        assert 'data-model="3"' in served.call("GET", "/")[1]  # the server's model
        robot = {"Host": "robot.local:%d" % served.port}  # any name, beyond loopback
        assert served.call("POST", "/api/send?key=" + served.key, {"command": "stop"}, robot) == (200, {"code": 654, "bits": 12})
        for where in ("192.0.2.1:8080", "127.0.0.1:%d" % served.port):
            r = run([TARVIK, "-serve", where, "-nowakeup", "-port", str(tmp_path / "n.vcd")], timeout=30)
            assert (r.status, r.out) == (1, "tarvik: cannot listen on %s: the port is taken, or "
                                            "the address is not this machine's\n" % where)
        assert served.stop()[:2] == (130, "")


def test_scripts_and_events(tmp_path):
    with Served(tmp_path) as served:
        text = "0 walk_forward\r\n\n# 5 stop\n1 nosuch\n0 0x8e\n"
        assert served.call("POST", "/api/script", {"text": text}) == (202, {"playing": True})
        served.wait_for(lambda e: e.get("state") == "ended")
        frame = lambda line, name, code: dict(type="frame", name=name, code=code, bits=8, line=line)
        progress = lambda line: {"type": "progress", "line": line, "lines": 5}
        assert [{k: v for k, v in e.items() if k not in ("time", "disturbed")} for e in served.events] == [
            {"type": "script", "state": "playing", "lines": 5}, progress(1), frame(1, "walk_forward", 134), progress(4),
            {"type": "unknown", "line": 4, "name": "nosuch"}, progress(5), frame(5, "0x8e", 142),
            {"type": "script", "state": "ended", "lines": 5}]
        # One thing at a time on the line: a press waits for no script.
        assert served.call("POST", "/api/script", {"text": "0 stop\n100000 stop", "model": 2})[0] == 202
        served.wait_for(lambda e: e.get("code") == 0x3AA)
        busy = served.call("POST", "/api/script", {"text": "0 stop"})
        assert busy == served.press("stop") == (409, E("a script is playing: stop it first"))
        assert served.call("POST", "/api/stop", {}) == (200, {"stopped": True})
        served.wait_for(lambda e: e.get("state") == "stopped")
        assert served.press("stop") == (200, STOP)
        served.wait_for(lambda e: len(served.frames()) == 4)
        # A client that reconnects gets what it missed; one naming an event
        # above the newest (an earlier run's) or no number is a new client.
        streams = {seen: served.open_stream(seen) for seen in (str(len(served.events) - 1), "1000", "")}
        assert served.press("reset") == (200, {"code": 174, "bits": 8})
        for seen, stream in streams.items():
            first = json.loads([stream.readline() for _ in range(3)][1][6:])
            assert (first["type"], first["name"]) == ("frame", {"1000": "reset", "": "reset"}.get(seen, "stop"))
        status, out, recording = served.stop()
    assert (status, out) == (130, "")
    frames_match(recording, served.frames())


def test_windows_build_under_wine(tmp_path, wine):
    if wine is None:
        pytest.skip("wine is not tried here")
    program, build, prefix, env = wine
    argv = [program, os.path.join(build, "tarvik.exe"), "-serve", "127.0.0.1:0", "-nowakeup", "-port", "C:\\x.vcd"]
    with Served(tmp_path, argv=argv, env={k: v for k, v in dict(os.environ, **env).items() if v is not None}) as served:
        assert served.call("GET", "/api/commands?model=1")[1][0] == {"name": "turn_right", "code": 0x80}
        assert served.press("stop") == (200, STOP)
        assert served.press("0xzz")[0] == 400
        served.wait_for(lambda e: e["type"] == "frame")
        assert served.stop()[:2] == (130, "")
    frames_match(open(os.path.join(prefix, "drive_c", "x.vcd")).read(), served.frames())


# Hostile and careless clients, each test bounded by its requests' time limits.

def test_crowd():
    """256 event streams at most (a closed one makes room), 512 connections (one more is closed at
    once), every stream hearing of the presses, the page and presses answered at once. As another
    user where it can: a user's limit on locked memory (8 MiB by default) stops none of it."""
    user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] * (os.geteuid() == 0 and bool(shutil.which("setpriv")))
    with tempfile.TemporaryDirectory(dir="/tmp") as work:  # TMPDIR may be closed to others
        os.chmod(work, 0o777)
        with Served(work, argv=user + [TARVIK, "-serve", "127.0.0.1:0", "-nowakeup", "-port", work + "/x.vcd"]) as served:
            ask = ("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % served.host).encode()
            streams = [connect(served.port, ask) for _ in range(255)]  # and its own
            assert all(s.recv(12) == b"HTTP/1.1 200" for s in streams)
            answer = answer_of(connect(served.port, ask.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n")))
            assert answer[:12] == b"HTTP/1.1 503" and answer.endswith(b'{"error":"too many event streams: close a page of the remote"}')
            idle = [connect(served.port) for _ in range(200)]
            started = time.monotonic()
            assert all(served.press("stop") == (200, STOP) for _ in range(5))
            assert served.call("GET", "/", text=True)[0] == 200
            assert time.monotonic() - started < 3 * SLOWDOWN  # not held up by the idle (closed after 5 s)
            assert all(any(b'"type":"frame"' in line for line in s.makefile("rb")) for s in streams)
            streams.pop().shutdown(socket.SHUT_RDWR)
            time.sleep(0.2)  # the server hears it before the next request anyway
            streams.append(served.open_stream())
            idle += [connect(served.port) for _ in range(512 - 256 - len(idle))]
            assert answer_of(connect(served.port, b"GET / HTTP/1.1\r\n\r\n")) == b""
            for s in streams[:-1] + idle:  # once they are gone, the server takes others again
                s.close()
            page, started = ("GET / HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" % served.host).encode(), time.monotonic()
            while answer_of(connect(served.port, page))[:12] != b"HTTP/1.1 200":
                assert time.monotonic() - started < WAIT and not time.sleep(0.1)  # until it has seen them go
            assert served.stop()[:2] == (130, "")


def test_slow_clients(tmp_path):
    """A connection that asks nothing is closed after 5 s, 16 that send a header byte a second 10 s
    after their first, the others answered meanwhile; Ctrl-C with a request half sent ends at once."""
    with Served(tmp_path) as served:
        clients = [connect(served.port) for _ in range(17)]  # the first asks nothing
        started, closed = time.monotonic(), {}
        while len(closed) < 17 and time.monotonic() - started < 20 * SLOWDOWN:
            for s in set(clients[1:]) - closed.keys():
                with contextlib.suppress(OSError):
                    s.send(b"G")
            assert served.call("GET", "/", text=True)[0] == 200
            time.sleep(1)
            for s in select.select(list(set(clients) - closed.keys()), [], [], 0)[0]:
                closed[s] = time.monotonic() - started  # nothing is ever answered
        assert len(closed) == 17 and 4 <= closed[clients[0]] < 15 * SLOWDOWN, closed
        assert min(closed[s] for s in clients[1:]) >= 9, closed
        connect(served.port, b"POST /api/send HTTP/1.1\r\nHost: ")
        assert served.stop()[:2] == (130, "")
        assert served.seconds < 5 * SLOWDOWN, served.seconds  # 0.05 s on a quiet machine


def test_big_requests(tmp_path):
    """A body past 1 MiB (chunked) gets 413 and sends nothing, headers past 8 KiB get 431, whether
    what follows ends well after or never."""
    with Served(tmp_path) as served:
        post = ("POST /api/send HTTP/1.1\r\nHost: %s\r\nContent-Type: application/json\r\n"
                "Transfer-Encoding: chunked\r\n\r\n" % served.host).encode()
        get = ("GET / HTTP/1.1\r\nHost: %s\r\n" % served.host).encode()
        blanks, pad = b"100000\r\n" + b" " * (1 << 20) + b"\r\n", b"X: " + b"a" * (1 << 20) + b"\r\n"
        for head, more, end, status, error in (
                (post, blanks, b'13\r\n{"command": "stop"}\r\n0\r\n\r\n', 413, b"body larger than 1 MiB"),
                (get, pad, b"\r\n", 431, b"header larger than 8 KiB")):
            got = answer_of(connect(served.port, head, more, more, end))
            assert got[:12] == b"HTTP/1.1 %d" % status and got.endswith(b'request %s"}' % error), got
            got = answer_of(connect(served.port, head, *[more] * 64))  # until it stops reading
            assert got[:12] in (b"HTTP/1.1 %d" % status, b""), got
        assert served.press("stop") == (200, STOP)
        served.wait_for(lambda e: e["type"] == "frame")
        status, out, recording = served.stop()
    assert (status, out, len(served.frames())) == (130, "", 1)
    frames_match(recording, served.frames())


def test_unread_stream_and_stdout(tmp_path):
    """A page that stops reading its event stream is dropped once 256 KiB wait for it, the others
    hearing everything; nothing is written to stdout after its first line, for nobody may read it."""
    with Served(tmp_path) as served:
        fcntl.fcntl(served.proc.stdout.fileno(), 1031, 4096)  # F_SETPIPE_SZ: a small pipe
        stuck = socket.socket()
        stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck.settimeout(WAIT)
        stuck.connect(("127.0.0.1", served.port))
        stuck.sendall(("GET /api/events HTTP/1.1\r\nHost: %s\r\n\r\n" % served.host).encode())
        assert all(served.press("nosuch")[0] == 400 for _ in range(200))
        # Each line makes a progress and an unknown event, 170 bytes or so.
        assert served.call("POST", "/api/script", {"text": "0 %s\n" % ("n" * 47) * 3000})[0] == 202
        served.wait_for(lambda e: e.get("state") == "ended")
        assert len([e for e in served.events if e["type"] == "unknown"]) == 3000
        assert served.open_stream("0").readline() == b"id: %d\n" % (len(served.events) - 511)  # kept: the latest 512
        assert served.press("stop") == (200, STOP)
        got = answer_of(stuck)  # what it had before it was dropped
        assert 0 < len(got) < 500 * 1024, len(got)
        assert served.stop()[:2] == (130, "")


def test_ctrl_c_with_presses_queued(tmp_path):
    """50 presses queued, then Ctrl-C: the frame on the line finishes, every
    other press is answered 503 and never sent."""
    with Served(tmp_path) as served:
        press = ("POST /api/send HTTP/1.1\r\nHost: %s\r\nContent-Type: application/json\r\n"
                 "Content-Length: 18\r\n\r\n{\"command\":\"stop\"}" % served.host).encode()
        clients = [connect(served.port, press) for _ in range(50)]
        select.select(clients, [], [], WAIT)  # one frame is out: the rest wait behind it
        time.sleep(0.2)
        status, out, recording = served.stop()
    # A press the server had not yet read (a busy machine) is closed unanswered, and not sent.
    bodies = [json.loads(a[a.index(b"\r\n\r\n") + 4:]) if a else None for a in map(answer_of, clients)]
    sent, stopping = bodies.count(STOP), bodies.count({"error": "the remote control is stopping"})
    assert sent + stopping + bodies.count(None) == 50 and stopping > 0, bodies
    assert (status, out) == (130, "")
    assert recording.split().count("1!") == 9 * sent
