"""The Java library in a real JVM, called from many threads at once: each
recording whole, every thread on its own processors afterwards, no timer or
recording left open; and names as written."""

import os
import re
import shutil

import pytest

from conftest import BUILD, ROOT, SANITIZED, run, vcd_changes, vcd_edges

THREADS = 8

# own DIR ROUNDS THREADS: each thread switches the timer mode, then opens,
# sends on and closes a recording of its own, each round. shared: all send
# on one recording, each frame after a wake-up, which marks its start. Even
# threads send 8-bit frames, the others 12-bit ones.
PROGRAM = r"""
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.atomic.*;
import java.util.stream.*;

public class Threads {
    static String cpus() throws Exception {
        return Files.readAllLines(Paths.get("/proc/thread-self/status")).stream()
            .filter(line -> line.startsWith("Cpus_allowed_list:")).findFirst().orElse("?");
    }

    static long open(String what) throws Exception { // descriptors whose targets hold what
        try (Stream<Path> fds = Files.list(Paths.get("/proc/self/fd"))) {
            return fds.filter(fd -> {
                try { return Files.readSymbolicLink(fd).toString().contains(what); }
                catch (Exception gone) { return false; }
            }).count();
        }
    }

    public static void main(String[] args) throws Exception {
        String dir = args[1];
        boolean own = args[0].equals("own");
        if (args[0].equals("names")) {
            for (String name : new String[] {"\u00e9\uD83E\uDD16.vcd", "a\u0000b.vcd", "\uD83E.vcd"})
                System.out.print(TarvikDLL.TarvikClose(TarvikDLL.TarvikOpen(dir + "/" + name)) == 1 ? "opened " : "refused ");
            return;
        }
        int rounds = Integer.parseInt(args[2]), threads = Integer.parseInt(args[3]);
        long shared = own ? 0 : TarvikDLL.TarvikOpen(dir + "/shared.vcd");
        AtomicInteger failures = new AtomicInteger(), sent = new AtomicInteger();
        List<Thread> all = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            final int id = t;
            all.add(new Thread(() -> {
                try {
                    String before = cpus();
                    for (int r = 0; r < rounds; r++) {
                        if (own) TarvikDLL.TarvikUseMMTimer((id + r) % 2);
                        long port = own ? TarvikDLL.TarvikOpen(dir + "/t" + id + "_" + r + ".vcd") : shared;
                        boolean ok = port != -1 && TarvikDLL.TarvikSend(port, 0x86, id % 2 + 1, own ? 1 : 0) == 1;
                        (ok ? sent : failures).incrementAndGet();
                        if (own && TarvikDLL.TarvikClose(port) == 0) failures.incrementAndGet();
                    }
                    if (!cpus().equals(before)) System.out.println(id + " moved: " + before + ", " + cpus());
                } catch (Exception e) {
                    failures.incrementAndGet();
                }
            }));
        }
        for (Thread t : all) t.start();
        for (Thread t : all) t.join();
        if (!own && TarvikDLL.TarvikClose(shared) == 0) failures.incrementAndGet();
        System.out.println("sent " + sent.get() + " failed " + failures.get());
        System.out.println("open timers " + open("timerfd") + " recordings " + open(".vcd"));
    }
}
"""


@pytest.fixture(scope="module")
def classes(tmp_path_factory):
    if not shutil.which("javac") or not os.path.exists(os.path.join(BUILD, "libtarvikjava.so")) or SANITIZED:
        pytest.skip("no JDK or no Java library (the JVM does not load the sanitizer runtime)")
    out = tmp_path_factory.mktemp("classes")
    (out / "Threads.java").write_text(PROGRAM)
    javac = run(["javac", "-d", str(out), str(out / "Threads.java"), os.path.join(ROOT, "java", "TarvikDLL.java")])
    assert javac.status == 0, javac.err
    return str(out)


def frames(path):
    """The widths of a recording's frames, each told by the wake-up mark
    before it (no pulse length is read: a busy machine stretches any), its
    times only going forward, each frame whole."""
    text = open(path).read()
    times = [int(t) for t in re.findall(r"^#(\d+)$", text, re.M)]
    marks = [int(t) for t in re.findall(r'^#(\d+)\n0"$', text, re.M)] or [0]
    found = ["".join("01"[on] for at, on in vcd_edges(text) if start <= at < end)
             for start, end in zip(marks, marks[1:] + [times[-1] + 1])]
    assert times == sorted(set(times)) and all(re.fullmatch("1(01)+0", f) for f in found), found
    assert "".join(found) == vcd_changes(text), path
    return sorted(len(f) // 2 - 1 for f in found)


@pytest.mark.parametrize("mode, rounds", [("own", 20), ("shared", 5), ("names", 0)],
                         ids=["own_recordings", "one_recording", "names_as_written"])
def test_threads(classes, tmp_path, mode, rounds):
    r = run(["java", "-Xcheck:jni", "-Djava.library.path=" + BUILD, "-cp", classes, "Threads",
             mode, str(tmp_path), str(rounds), str(THREADS)], timeout=300)
    widths = [8, 12] * (THREADS // 2)
    if mode == "names":
        # Standard UTF-8; a name holding U+0000 or half a surrogate pair is refused.
        assert (r.status, r.out) == (0, "opened refused refused "), r.err
        assert os.listdir(bytes(tmp_path)) == ["\u00e9\U0001F916.vcd".encode()]
        return
    # Exactly the summary: no thread left on other processors, nothing open.
    assert (r.status, r.out) == (0, "sent %d failed 0\nopen timers 0 recordings 0\n"
                                 % (THREADS * rounds)), r.err
    if mode == "own":
        assert [frames(tmp_path / ("t%d_%d.vcd" % (t, n))) for t in range(THREADS)
                for n in range(rounds)] == [[w] for w in widths for _ in range(rounds)]
    else:
        assert frames(tmp_path / "shared.vcd") == sorted(widths * rounds)
