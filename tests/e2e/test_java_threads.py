"""The Java library in a real JVM, called from many threads at once: one
call at a time, each recording whole and in order, every thread on its own
processors afterwards, no timer descriptor or recording left open."""

import collections
import os
import re
import shutil
import subprocess

import pytest

from conftest import BUILD, ROOT, run

THREADS = 8

PROGRAM = r"""
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.atomic.*;

public class Threads {
    static String cpus() throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/thread-self/status")))
            if (line.startsWith("Cpus_allowed_list:"))
                return line.substring(18).trim();
        return "?";
    }

    // Descriptors of this process whose target names contain what.
    static int open(String what) throws Exception {
        int n = 0;
        try (DirectoryStream<Path> fds = Files.newDirectoryStream(Paths.get("/proc/self/fd"))) {
            for (Path fd : fds)
                try {
                    n += Files.readSymbolicLink(fd).toString().contains(what) ? 1 : 0;
                } catch (Exception gone) {
                }
        }
        return n;
    }

    // own DIR ROUNDS THREADS: each thread opens, sends on and closes a
    // recording of its own each round, while another switches the timer mode
    // on and off. shared DIR ROUNDS THREADS: every thread sends on one
    // recording, each frame after a wake-up, which marks where it starts.
    // Threads of even number send 8-bit frames, the others 12-bit ones.
    public static void main(String[] args) throws Exception {
        String mode = args[0], dir = args[1];
        if (mode.equals("names")) {
            for (String name : new String[] {"\u00e9\uD83E\uDD16.vcd", "a\u0000b.vcd", "\uD83E.vcd"}) {
                long port = TarvikDLL.TarvikOpen(dir + "/" + name);
                System.out.print(port == -1 ? "refused " : "opened ");
                TarvikDLL.TarvikClose(port);
            }
            System.out.println();
            return;
        }
        int rounds = Integer.parseInt(args[2]), threads = Integer.parseInt(args[3]);
        long shared = mode.equals("shared") ? TarvikDLL.TarvikOpen(dir + "/shared.vcd") : 0;
        AtomicInteger failures = new AtomicInteger(), sent = new AtomicInteger();
        AtomicBoolean done = new AtomicBoolean();
        List<Thread> all = new ArrayList<>();
        String[] report = new String[threads];
        for (int t = 0; t < threads; t++) {
            final int id = t;
            all.add(new Thread(() -> {
                try {
                    String before = cpus();
                    for (int r = 0; r < rounds; r++) {
                        long port = shared;
                        if (mode.equals("own"))
                            port = TarvikDLL.TarvikOpen(dir + "/t" + id + "_" + r + ".vcd");
                        int model = id % 2 == 0 ? 1 : 2, wakeup = mode.equals("own") ? 1 : 0;
                        if (port == -1 || TarvikDLL.TarvikSend(port, 0x86, model, wakeup) != 1)
                            failures.incrementAndGet();
                        else
                            sent.incrementAndGet();
                        if (mode.equals("own") && TarvikDLL.TarvikClose(port) == 0)
                            failures.incrementAndGet();
                    }
                    report[id] = "cpus " + id + " " + before + " " + cpus();
                } catch (Exception e) {
                    failures.incrementAndGet();
                }
            }));
        }
        Thread switcher = new Thread(() -> {
            for (int on = 1; !done.get(); on ^= 1) {
                TarvikDLL.TarvikUseMMTimer(on);
                try {
                    Thread.sleep(1);
                } catch (InterruptedException e) {
                }
            }
        });
        if (mode.equals("own"))
            switcher.start();
        for (Thread t : all)
            t.start();
        for (Thread t : all)
            t.join();
        done.set(true);
        if (mode.equals("own"))
            switcher.join();
        if (mode.equals("shared") && TarvikDLL.TarvikClose(shared) == 0)
            failures.incrementAndGet();
        for (String line : report)
            System.out.println(line);
        System.out.println("sent " + sent.get() + " failed " + failures.get());
        System.out.println("open timers " + open("timerfd") + " recordings " + open(".vcd"));
    }
}
"""


def sanitized():
    cache = os.path.join(BUILD, "CMakeCache.txt")
    return os.path.exists(cache) and "TARVIK_SANITIZE:BOOL=ON" in open(cache).read()


@pytest.fixture(scope="module")
def classes(tmp_path_factory):
    javac = shutil.which("javac")
    library = os.path.join(BUILD, "libtarvikjava.so")
    if not javac or not os.path.exists(library) or sanitized():
        pytest.skip("no JDK or no Java library (the JVM does not load the sanitizer runtime)")
    out = tmp_path_factory.mktemp("classes")
    with open(out / "Threads.java", "w") as f:
        f.write(PROGRAM)
    subprocess.run([javac, "-d", str(out), str(out / "Threads.java"),
                    os.path.join(ROOT, "java", "TarvikDLL.java")], check=True, timeout=300)
    return str(out)


def recording_frames(path):
    """The widths of the frames in a well-formed recording, checking its form:
    the header, times that only go forward, the closing time, and whole
    frames (break on, then off and on per bit, then off), told apart by the
    wake-up marks before them. Only the order of changes is read: a busy
    machine may stretch any pulse."""
    text = open(path).read()
    assert text.startswith("$version tarvik ") and "$enddefinitions $end\n" in text, path
    body = text[text.index("$dumpvars"):]
    words = body[body.index("$end") + 4:].split()
    assert all(re.fullmatch(r'#\d+|[01][!"]', w) for w in words), path
    times = [int(w[1:]) for w in words if w.startswith("#")]
    assert times == sorted(set(times)) and words[-1].startswith("#"), path
    frames = [""]
    for w in words:
        if w == '1"' and frames[-1]:
            frames.append("")
        elif w in ("0!", "1!"):
            frames[-1] += w[0]
    assert all(re.fullmatch("1(01)+0", f) for f in frames), (path, frames)
    return [len(f) // 2 - 1 for f in frames]


def width(thread):
    return 8 if thread % 2 == 0 else 12


def jvm(classes, *args):
    return run(["java", "-Xcheck:jni", "-Djava.library.path=" + BUILD, "-cp", classes, "Threads"]
               + [str(a) for a in args], timeout=300)


def java(classes, *args):
    """The program's summary lines, once every thread is found on its own
    processors."""
    r = jvm(classes, *args)
    assert r.status == 0, r.err
    lines = r.out.splitlines()
    for line in lines[:-2]:
        _, _, before, after = line.split()
        assert before == after, line
    return lines[-2:]


def own_recordings(classes, tmp, rounds):
    """Each thread opens, sends on and closes its own recordings."""
    summary = java(classes, "own", tmp, rounds, THREADS)
    assert summary == ["sent %d failed 0" % (THREADS * rounds), "open timers 0 recordings 0"]
    for t in range(THREADS):
        for r in range(rounds):
            assert recording_frames(os.path.join(tmp, "t%d_%d.vcd" % (t, r))) == [width(t)]


def one_recording(classes, tmp, rounds):
    """Every thread sends on the same recording: all the frames, whole."""
    summary = java(classes, "shared", tmp, rounds, THREADS)
    assert summary == ["sent %d failed 0" % (THREADS * rounds), "open timers 0 recordings 0"]
    frames = recording_frames(os.path.join(tmp, "shared.vcd"))
    assert len(frames) == THREADS * rounds
    assert collections.Counter(frames) == collections.Counter(
        width(t) for t in range(THREADS) for _ in range(rounds))


def processors_kept(classes, tmp, rounds):
    """Frames from threads at once leave each on its own processors (checked
    for every row; here alone)."""
    assert java(classes, "shared", tmp, rounds, THREADS)[0] == "sent %d failed 0" % (THREADS * rounds)


def names_as_written(classes, tmp, rounds):
    """Names reach the file system in standard UTF-8; one holding U+0000 or
    half a surrogate pair is refused."""
    r = jvm(classes, "names", tmp, 0, 0)
    assert (r.status, r.out) == (0, "opened refused refused \n"), r.err
    assert os.listdir(tmp.encode()) == ["\u00e9\U0001F916.vcd".encode()]


@pytest.mark.parametrize("check, rounds", [
    (own_recordings, 20),
    (one_recording, 5),
    (processors_kept, 2),
    (names_as_written, 0),
], ids=["own recordings", "one recording", "processors kept", "names as written"])
def test_threads(classes, tmp_path, check, rounds):
    check(classes, str(tmp_path), rounds)
