"""Shared fixtures of the tests that run real programs: the build, a bounded
run, pseudo-terminals, the ioctl log, the recording reader, a served remote, wine. A
busy machine can delay any pulse: runs are checked for what cannot vary."""

import collections
import contextlib
import http.client
import json
import os
import queue
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(os.environ.get("TARVIK_BUILD", os.path.join(ROOT, "build")))
TARVIK = os.path.join(BUILD, "tarvik")
RECORDER = os.path.join(BUILD, "libtarvik_ioctl_recorder.so")
LIRC_STANDIN = os.path.join(BUILD, "tests", "libtarvik_lirc_standin.so")
EXPECTED = os.path.join(ROOT, "tests", "expected")
# Valgrind and the like run programs many times slower.
SLOWDOWN = max(1, int(os.environ.get("TARVIK_TEST_SLOWDOWN", "1") or 1))
UNIT_US = 1e6 / 1200
WAIT = 30 * SLOWDOWN  # for what should happen at once: reached only on failure


def cached(name):
    """A setting of the build's CMake cache, "" when it has none."""
    path = os.path.join(BUILD, "CMakeCache.txt")
    lines = open(path).read().splitlines() if os.path.exists(path) else []
    return next((line.split("=", 1)[1].strip() for line in lines if line.startswith(name + ":")), "")


# The Windows cross builds (ctest passes them; by hand the cache names them).
WINDOWS_BUILD = os.environ.get("TARVIK_WINDOWS_BUILD_DIR", cached("TARVIK_WINDOWS_BUILD_DIR"))
WINDOWS64_BUILD = os.environ.get("TARVIK_WINDOWS64_BUILD_DIR", cached("TARVIK_WINDOWS64_BUILD_DIR"))
SANITIZED = cached("TARVIK_SANITIZE").upper() in ("ON", "1", "TRUE", "YES")

Result = collections.namedtuple("Result", "status out err changes")


def run(argv, stdin=b"", env=None, timeout=120, record=False, during=None):
    """Runs argv with the extra environment (None removes a setting), killed after timeout seconds (times
    the slowdown). With record, changes has "1" per break ioctl on, "0" per off. during(process) runs meanwhile."""
    env = {k: v for k, v in dict(os.environ, **(env or {})).items() if v is not None}
    env.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "ioctl.log")
        if record:
            env.update(LD_PRELOAD=RECORDER, TARVIK_IOCTL_LOG=log)
        # Ctrl-C as a user's shell delivers it, even where it is ignored here (in the background).
        default_sigint = signal.getsignal(signal.SIGINT) == signal.SIG_IGN
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=(lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
                                if default_sigint else None)
        if during:
            during(proc)
        try:
            out, err = proc.communicate(stdin, timeout=timeout * SLOWDOWN)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, err = proc.communicate()
            pytest.fail("%s ran out of time" % argv)
        changes = "".join("1" if line.startswith("S") else "0" for line in open(log) if line.strip()) \
            if record and os.path.exists(log) else ""
    return Result(proc.returncode, out.decode(errors="replace"), err.decode(errors="replace"), changes)


class Pty:
    """A pseudo-terminal whose far end the test holds open: it hangs up when the test says."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        self.name = os.ttyname(self.slave)
        os.set_blocking(self.master, False)

    def read(self):
        """Everything written to the port so far."""
        data = b""
        with contextlib.suppress(OSError):  # BlockingIOError when it is all read
            while chunk := os.read(self.master, 4096):
                data += chunk
        return data

    def hang_up(self):
        for fd in {self.master, self.slave} - {None}:
            os.close(fd)
        self.master = self.slave = None


@pytest.fixture
def pty():
    yield (p := Pty())
    p.hang_up()


@pytest.fixture(scope="session")
def wine():
    """(wine, build, prefix, environment) for the 32-bit build, else the 64-bit one under
    wine64; None when neither runs, or under valgrind. The prefix and server are our own."""
    prefix = tempfile.mkdtemp(prefix="tarvik-wine-")
    env = {"DISPLAY": None, "WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
    null = subprocess.DEVNULL  # the server outlives every run: it holds no run's output open
    quiet = dict(env={k: v for k, v in dict(os.environ, **env).items() if v is not None},
                 stdin=null, stdout=null, stderr=null, timeout=300)
    chosen = None
    if SLOWDOWN == 1 and (WINDOWS_BUILD or WINDOWS64_BUILD):
        subprocess.run(["wineserver", "-p"], **quiet)
        for program, build in (("wine", WINDOWS_BUILD), ("/usr/lib/wine/wine64", WINDOWS64_BUILD)):
            if chosen is None and build and shutil.which(program) and \
                    subprocess.run([program, "cmd", "/c", "exit"], **quiet).returncode == 0:
                chosen = (program, build, prefix, env)
    yield chosen
    subprocess.run(["wineserver", "-k"], **quiet)
    shutil.rmtree(prefix, ignore_errors=True)


def frames_of_widths(widths):
    """The line changes of frames of these widths: on, off and on per bit, off."""
    return "".join("1" + "01" * bits + "0" for bits in widths)


def vcd_edges(text):
    """The break line's changes in a recording as (time in µs, on)."""
    now, changes = 0, []
    for word in text[text.index("$end", text.index("$dumpvars")) + 4:].split():
        if word.startswith("#"):
            now = int(word[1:])
        elif word in ("0!", "1!"):
            changes.append((now, word == "1!"))
    return changes


def vcd_changes(text):
    """The break line's changes in a recording, as "1" and "0"."""
    return "".join("1" if on else "0" for _, on in vcd_edges(text))


def vcd_frames(text, starts=False):
    """The frames of a recording as (code, bits) read from the gaps, or (start in µs, code, bits)."""
    changes, frames = vcd_edges(text), []
    for i, (at, on) in enumerate(changes):
        length = changes[i + 1][0] - at if i + 1 < len(changes) else None
        if on and length is not None and length > 5 * UNIT_US:  # the lead-in
            frames.append([0, 0, at])
        elif not on and i + 2 < len(changes) and changes[i + 2][0] - changes[i + 1][0] < 5 * UNIT_US:
            frames[-1][0] = frames[-1][0] * 2 + (length > 2.5 * UNIT_US)  # a bit's gap
            frames[-1][1] += 1
    return [(at, code, bits) if starts else (code, bits) for code, bits, at in frames]


def expected(name):
    return open(os.path.join(EXPECTED, name)).read()


class Served(contextlib.AbstractContextManager):
    """tarvik -serve recording to work/x.vcd, its first line read from output (else stdout, read no further
    until it stops); with listen, its events collect in events. Ctrl-C by stop() or on leaving the with."""

    def __init__(self, work, args=(), listen=True, argv=None, at="127.0.0.1:0", output=None, **popen):
        self.vcd, self.status, self.events = os.path.join(work, "x.vcd"), None, []
        argv = argv or [TARVIK, "-serve", at, "-nowakeup", "-port", self.vcd]
        self.proc = subprocess.Popen(argv + list(args), **dict(dict(
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL), **popen))
        self.lines, self.seen, self.stopping = queue.Queue(), threading.Condition(), threading.Event()
        self._pump(output or self.proc.stdout, self.lines.put, self.stopping)
        self.first = self._line(2 * WAIT)
        match = re.fullmatch(r"tarvik: remote control at (http://[^/]+:(\d+)/(\?key=(\w+))?)\n", self.first)
        if not match:
            self.stop()
            raise AssertionError("no address in %r" % self.first)
        self.url, self.port, self.key = match.group(1), int(match.group(2)), match.group(4)
        self.host = "127.0.0.1:%d" % self.port
        if listen:
            self._pump(self.open_stream(), self._event)

    def __exit__(self, *exc):
        if self.status is None:
            self.stop()

    @staticmethod
    def _pump(source, take, hold=None):
        def lines():
            with contextlib.suppress(OSError, ValueError, http.client.HTTPException):
                for line in iter(source.readline, b""):
                    take(line)
                    hold and hold.wait()
            take(None)
        threading.Thread(target=lines, daemon=True).start()

    def _line(self, timeout):
        with contextlib.suppress(queue.Empty):
            line = self.lines.get(timeout=timeout)
            return line.decode(errors="replace").replace("\r\n", "\n") if line else ""  # None: the end
        return ""

    def _event(self, line):
        if line and line.startswith(b"data: "):
            with self.seen:
                self.events.append(json.loads(line[6:]))
                self.seen.notify_all()

    def call(self, method, path, body=None, headers=None, text=False):
        """(status, answer), parsed if it is JSON, unless text; its type in type."""
        with contextlib.closing(http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT)) as conn:
            body = json.dumps(body) if isinstance(body, (dict, list)) else body
            json_type = {"Content-Type": "application/json"} if method == "POST" else {}
            conn.request(method, path, body, dict(json_type, **(headers or {})))
            answer = conn.getresponse()
            content, self.type = answer.read().decode(errors="replace"), answer.getheader("Content-Type")
            return answer.status, json.loads(content) if self.type == "application/json" and not text else content

    def press(self, command, **more):
        return self.call("POST", "/api/send", dict(command=command, **more))

    def open_stream(self, last_event_id=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=4 * WAIT)
        conn.request("GET", "/api/events", headers={} if last_event_id is None else {"Last-Event-ID": last_event_id})
        answer = conn.getresponse()
        assert answer.status == 200
        return answer

    def wait_for(self, predicate):
        with self.seen:
            assert self.seen.wait_for(lambda: any(map(predicate, self.events)), WAIT), self.events

    def frames(self):
        return [e for e in self.events if e["type"] == "frame"]

    def stop(self):
        """Ctrl-C: (status, what it printed after its first and the network's lines, the recording)."""
        started = time.monotonic()
        self.stopping.set()
        self.proc.send_signal(signal.SIGINT)
        with contextlib.suppress(subprocess.TimeoutExpired):
            self.proc.wait(WAIT)
        self.proc.kill()  # if it outlived that
        self.proc.wait()
        self.status, self.seconds = self.proc.returncode, time.monotonic() - started
        self.out = "".join(iter(lambda: self._line(WAIT), ""))
        recording = open(self.vcd).read() if os.path.exists(self.vcd) else ""
        return self.status, re.sub(r"^(tarvik: on this network: .*\n)+", "", self.out), recording
