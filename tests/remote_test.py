#!/usr/bin/python3
"""The remote control end to end under wine: the real program serving on
loopback and recording to a .vcd file, driven with urllib (its page in
Chromium is tests/e2e/test_page.py). Frames are read back from the
recording: a frame the program reports undisturbed has every edge within a
quarter unit, so its bits are read safely; of a disturbed one only the number
of edges is compared."""

import json
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

BINARY = os.environ.get("TARVIK_BINARY", "build/tarvik")
WINDOWS_BUILDS = [("wine", os.environ.get("TARVIK_WINDOWS_BUILD_DIR", "")),
                  ("/usr/lib/wine/wine64", os.environ.get("TARVIK_WINDOWS64_BUILD_DIR", ""))]
UNIT_US = 1e6 / 1200
WAIT = 60  # seconds for anything to happen; only reached when something is wrong


def decode(vcd):
    """The frames of a recording as (code, bits)."""
    body = vcd[vcd.index("$dumpvars"):]
    body = body[body.index("$end") + 4:]
    now, changes = 0, []
    for word in body.split():
        if word.startswith("#"):
            now = int(word[1:])
        elif word in ("0!", "1!"):
            changes.append((now, word == "1!"))
    frames = []
    for i, (at, on) in enumerate(changes):
        length = changes[i + 1][0] - at if i + 1 < len(changes) else None
        if on and length is not None and length > 5 * UNIT_US:  # the lead-in
            frames.append([0, 0])
        elif not on and i + 2 < len(changes) and changes[i + 2][0] - changes[i + 1][0] < 5 * UNIT_US:
            frames[-1][0] = frames[-1][0] * 2 + (length > 2.5 * UNIT_US)  # a bit's gap
            frames[-1][1] += 1
    return [tuple(f) for f in frames]


class Served:
    """tarvik -serve, its first line read, its requests made with urllib."""

    def __init__(self, argv, env=None):
        self.proc = subprocess.Popen(["timeout", "-k", "10", "300"] + argv, env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(self.proc.stdout.readline()), daemon=True).start()
        try:
            self.first = lines.get(timeout=WAIT)
        except queue.Empty:
            self.first = ""
        match = re.fullmatch(r"tarvik: remote control at (http://[^/]+/)\r?\n", self.first)
        if not match:
            self.stop()
            raise AssertionError("no address in %r" % self.first)
        self.url = match.group(1)
        self.events = []
        self.event_seen = threading.Condition()
        self.listening = threading.Event()
        threading.Thread(target=self._listen, daemon=True).start()
        # Events come from the moment the stream is open.
        if not self.listening.wait(WAIT):
            self.stop()
            raise AssertionError("no event stream")

    def call(self, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        with urllib.request.urlopen(self.url + path.lstrip("/"), data, timeout=WAIT) as answer:
            return answer.status, json.loads(answer.read())

    def _listen(self):
        try:
            with urllib.request.urlopen(self.url + "api/events", timeout=WAIT * 5) as stream:
                self.listening.set()
                for line in stream:
                    if line.startswith(b"data: "):
                        with self.event_seen:
                            self.events.append(json.loads(line[6:]))
                            self.event_seen.notify_all()
        except OSError:
            pass

    def wait_for(self, predicate):
        with self.event_seen:
            if not self.event_seen.wait_for(lambda: any(map(predicate, self.events)), WAIT):
                raise AssertionError("no such event in %r" % self.events)

    def stop(self):
        """Ctrl-C; the exit status and what it printed after the first line."""
        self.proc.send_signal(signal.SIGINT)
        out, err = self.proc.communicate(timeout=WAIT)
        return self.proc.returncode, out, err


def frames_match(test, recording, events):
    """The recording holds exactly the frames the events report: as many
    break edges, and when no frame was disturbed, the same codes."""
    test.assertEqual(recording.split().count("1!"), sum(e["bits"] + 1 for e in events))
    if not any(e["disturbed"] for e in events):
        test.assertEqual([f[:2] for f in decode(recording)], [(e["code"], e["bits"]) for e in events])


@unittest.skipUnless(any(build for _, build in WINDOWS_BUILDS), "no Windows build to try")
class RemoteUnderWine(unittest.TestCase):
    def test_answers_and_records(self):
        prefix = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, prefix)
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        env.pop("DISPLAY", None)
        # The 32-bit build, or where the kernel runs no 32-bit programs, the
        # 64-bit one under wine64.
        runs = lambda wine: subprocess.run(["timeout", "120", wine, "cmd", "/c", "exit"], env=env,
                                           capture_output=True).returncode == 0
        wine, build = next(((w, b) for w, b in WINDOWS_BUILDS if b and runs(w)), (None, None))
        self.assertTrue(wine, "no wine runs here")
        exe = os.path.join(build, "tarvik.exe")
        served = Served([wine, exe, "-serve", "127.0.0.1:0", "-nowakeup", "-port", "C:\\x.vcd"], env)
        self.assertEqual(served.call("/api/commands?model=1")[1][0], {"name": "turn_right", "code": 0x80})
        self.assertEqual(served.call("/api/send", {"command": "stop"}), (200, {"code": 0x8E, "bits": 8}))
        served.wait_for(lambda e: e["type"] == "frame")
        self.assertEqual(served.stop()[0], 130)
        subprocess.run(["timeout", "60", "wineserver", "-k"], env=env, check=False)
        with open(os.path.join(prefix, "drive_c", "x.vcd")) as recording:
            frames_match(self, recording.read(), [served.events[0]])


if __name__ == "__main__":
    unittest.main()
