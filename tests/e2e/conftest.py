"""Shared fixtures of the tests that run real programs: where the build is,
a bounded run that kills its child, pseudo-terminals, the ioctl log and the
recording reader. A busy machine can delay any pulse, so runs are checked
only for what cannot vary: statuses, texts, bytes, files, the order of line
changes."""

import collections
import os
import signal
import subprocess
import tempfile

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


def cached(name):
    """A setting of the build's CMake cache, "" when it has none."""
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith(name + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return ""


# The Windows cross builds (ctest passes them; by hand the cache names them).
WINDOWS_BUILD = os.environ.get("TARVIK_WINDOWS_BUILD_DIR", cached("TARVIK_WINDOWS_BUILD_DIR"))
WINDOWS64_BUILD = os.environ.get("TARVIK_WINDOWS64_BUILD_DIR",
                                 cached("TARVIK_WINDOWS64_BUILD_DIR"))
SANITIZED = cached("TARVIK_SANITIZE").upper() in ("ON", "1", "TRUE", "YES")

Result = collections.namedtuple("Result", "status out err changes")


def run(argv, stdin=b"", env=None, timeout=120, record=False, during=None):
    """Runs argv with the extra environment, its output captured, killed when
    it outlives timeout seconds (times the slowdown). With record, the break
    ioctls it makes are logged: changes is "1" for each break on, "0" for
    each off. during(process) runs while it does. A setting of None is
    removed from the environment."""
    env = dict(os.environ, **(env or {}))
    for name in [name for name, value in env.items() if value is None]:
        del env[name]
    env.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "ioctl.log")
        if record:
            env["LD_PRELOAD"] = RECORDER
            env["TARVIK_IOCTL_LOG"] = log
        # Ctrl-C as a user's shell delivers it, even when this runs where it
        # is ignored (in the background).
        default_sigint = signal.getsignal(signal.SIGINT) == signal.SIG_IGN
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE,
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
        changes = ""
        if record and os.path.exists(log):
            changes = "".join("1" if line.startswith("S") else "0"
                              for line in open(log) if line.strip())
    return Result(proc.returncode, out.decode(errors="replace"), err.decode(errors="replace"),
                  changes)


class Pty:
    """A pseudo-terminal whose far end the test holds open, so that the line
    hangs up only when the test says."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        self.name = os.ttyname(self.slave)
        os.set_blocking(self.master, False)

    def read(self):
        """Everything written to the port so far."""
        data = b""
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except (BlockingIOError, OSError):
                return data
            if not chunk:
                return data
            data += chunk

    def hang_up(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None


@pytest.fixture
def pty():
    p = Pty()
    yield p
    p.hang_up()


def frames_of_widths(widths):
    """The line changes of frames of these widths: break on, then per bit
    off and on, then off."""
    return "".join("1" + "01" * bits + "0" for bits in widths)


def vcd_changes(text):
    """The break line's changes in a recording, as "1" and "0"."""
    body = text[text.index("$dumpvars"):]
    body = body[body.index("$end"):]
    return "".join(line[0] for line in body.split() if line in ("0!", "1!"))


def vcd_edges(text):
    """The break line's changes in a recording as (time in µs, on)."""
    body = text[text.index("$dumpvars"):]
    body = body[body.index("$end") + 4:]
    now, changes = 0, []
    for word in body.split():
        if word.startswith("#"):
            now = int(word[1:])
        elif word in ("0!", "1!"):
            changes.append((now, word == "1!"))
    return changes


def vcd_frames(text):
    """The frames of a recording as (code, bits), read from the gaps."""
    changes = vcd_edges(text)
    frames = []
    for i, (at, on) in enumerate(changes):
        length = changes[i + 1][0] - at if i + 1 < len(changes) else None
        if on and length is not None and length > 5 * UNIT_US:  # the lead-in
            frames.append([0, 0])
        elif not on and i + 2 < len(changes) and changes[i + 2][0] - changes[i + 1][0] < 5 * UNIT_US:
            frames[-1][0] = frames[-1][0] * 2 + (length > 2.5 * UNIT_US)  # a bit's gap
            frames[-1][1] += 1
    return [tuple(f) for f in frames]


def expected(name):
    with open(os.path.join(EXPECTED, name)) as f:
        return f.read()
