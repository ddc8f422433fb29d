"""What is shipped: the Debian package (checked and unpacked, never
installed), the Windows zip, the 32-bit Windows build's machine code and
imports; checked where every deliverable is built (a Windows build given)."""

import glob
import os
import re

import pytest

from conftest import BUILD, SANITIZED, WINDOWS_BUILD, run

pytestmark = pytest.mark.skipif(not WINDOWS_BUILD or SANITIZED,
                                reason="the deliverables are checked with every build made")


def ok(argv, **kwargs):
    r = run(argv, timeout=600, **kwargs)
    assert r.status == 0, (argv, r.out, r.err)
    return r.out


def cpack(build, out, *generator):
    """The build's package, made in out (the build is left as it is)."""
    ok(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", str(out), *generator])
    (package,) = glob.glob(str(out / "tarvik*.*"))
    return package


@pytest.fixture(scope="module")
def deb(tmp_path_factory):
    """The Debian package, and where it is unpacked."""
    package, unpacked = cpack(BUILD, tmp_path_factory.mktemp("cpack"), "-G", "DEB"), tmp_path_factory.mktemp("deb")
    ok(["dpkg-deb", "-x", package, str(unpacked)])
    return package, unpacked


def test_debian_package(deb):
    package, unpacked = deb  # what the install puts in place, first
    for f in ["bin/tarvik", "lib/*/jni/libtarvikjava.so", "share/man/man1/tarvik.1.gz",
              "share/bash-completion/completions/tarvik", "share/tarvik/java/TarvikDLL.java",
              "share/doc/tarvik/copyright", "share/doc/tarvik/changelog.Debian.gz"]:
        assert glob.glob(str(unpacked / "usr" / f)), f
    depends = ok(["dpkg-deb", "-f", package, "Depends"])
    assert re.search(r"(^|, )libc6 ", depends) and re.search(r"(^|, )adduser\b", depends), depends
    lintian = run(["lintian", package], timeout=600)
    assert [s for s in (lintian.out + lintian.err).splitlines() if "root privileges" not in s] == []
    man = ok(["man", "-l", str(unpacked / "usr/share/man/man1/tarvik.1.gz")], env={"MANWIDTH": "200"})
    assert "send commands to toy robots" in man
    assert ok([str(unpacked / "usr/bin/tarvik"), "--version"]).strip() in man  # one version in both


@pytest.mark.parametrize("words, current, offered", [
    ("tarvik D7_head_o -v2", 1, "D7_head_only"),  # the names of the model given so far
    ("tarvik stop -now", 2, "-nowakeup"),
    ("LISTER stop -port ''", 3, "/dev/ttyUSB0"),  # the listed ports but the console
    ("tarvik stop -resend ''", 3, ""),
])
def test_completion(deb, tmp_path, words, current, offered):
    lister = tmp_path / "lister"  # a stand-in that lists a console and a port
    lister.write_text('#!/bin/sh\necho "/dev/ttyS0 (COM1, the system console)\n/dev/ttyUSB0 (usb)"\n')
    lister.chmod(0o755)
    script = ('source "$0"; COMP_WORDS=(%s); COMP_CWORD=%d; _tarvik; echo "${COMPREPLY[*]}"'
              % (words.replace("LISTER", str(lister)), current))
    out = ok(["bash", "-c", script, str(deb[1] / "usr/share/bash-completion/completions/tarvik")],
             env={"PATH": str(deb[1] / "usr/bin") + ":" + os.environ["PATH"]})
    assert out == offered + "\n"


def test_realtime_for_the_group_tarvik(deb, tmp_path):
    """The limits file, a conffile (purging removes it), and the postinst,
    which adds the system group once (the group stays, as Debian does)."""
    package, unpacked = deb
    rows = [line.split() for line in (unpacked / "etc/security/limits.d/tarvik.conf").open()
            if line.strip() and not line.startswith("#")]
    assert rows == [["@tarvik", "-", "rtprio", "49"], ["@tarvik", "-", "nice", "-20"],
                    ["@tarvik", "-", "memlock", "unlimited"]]
    ok(["dpkg-deb", "-e", package, str(tmp_path / "control")])
    assert (tmp_path / "control/conffiles").read_text() == "/etc/security/limits.d/tarvik.conf\n"
    # Run where addgroup and getent only note what they were asked.
    calls = tmp_path / "calls"
    for name, status in (("addgroup", 0), ("getent", 2)):
        (tmp_path / name).write_text('#!/bin/sh\necho "%s $*" >> %s\nexit %d\n' % (name, calls, status))
        (tmp_path / name).chmod(0o755)
    for argument in ("configure", "abort-upgrade"):
        ok(["sh", str(tmp_path / "control/postinst"), argument], env={"PATH": "%s:/usr/bin:/bin" % tmp_path})
    assert calls.read_text() == "getent group tarvik\naddgroup --system --quiet tarvik\n"


def test_windows_zip(tmp_path):
    listed = ok(["python3", "-m", "zipfile", "-l", cpack(WINDOWS_BUILD, tmp_path)])
    for f in ["tarvik.exe", "tarvikjava.dll", "TarvikDLL.java", "README.md"]:
        assert re.search("/%s " % re.escape(f), listed), f


def test_windows_build():
    dump = lambda flags, name: ok(["i686-w64-mingw32-objdump", flags, "--no-show-raw-insn",  # noqa: E731
                                   os.path.join(WINDOWS_BUILD, name)])
    # The timing values in SSE2 doubles: no x87 multiplication, which would round them twice.
    code = dump("-d", "libtarvik_core.a")
    body = code[code.index("<__Z11init_timingx>:"):]
    body = body[:body.index("ret")]
    assert "mul" in body and "fmul" not in body, body
    dll = dump("-p", "tarvikjava.dll")
    for name in ["Open@12", "Send@28", "Decode@16", "Close@16", "UseMMTimer@12"]:
        assert "] _Java_TarvikDLL_Tarvik%s\n" % name in dll, name
    # System DLLs only; sockets for the program's remote control, never for the library.
    for imports, allowed in ((dll, set()), (dump("-p", "tarvik.exe"), {"WS2_32.dll", "MSWSOCK.dll"})):
        for name in re.findall(r"DLL Name: (\S+)", imports):
            assert name in {"KERNEL32.dll", "msvcrt.dll", "WINMM.DLL"} | allowed, name
