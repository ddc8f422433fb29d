"""The program run for real, natively and under wine, and the Java example
in a JVM: one row per runner and kind of behaviour, for the wiring (the fake
platform's tables pin the rest). In the rows PTY is a pseudo-terminal (COM9
under wine), VCD a recording, FILE a file holding NOTES, SCRIPT the row's script."""

import fcntl
import os
import re
import select
import signal
import struct
import time

import pytest

from conftest import BUILD, LIRC_STANDIN, SANITIZED, SLOWDOWN, TARVIK, expected, frames_of_widths, run, vcd_changes

W0 = b"\0"
O = "error opening port\n"
CRLF = "# three frames\r\n20 walk_forward\r\n10 0x3aa\r\n\r\n5\r\n\x1a1 stop\r\n"
BACK_TO_BACK = "0 stop\n" * 500
WHOLE = "whole"  # any number of whole 8-bit frames
NOTES = "my notes\n"
WALK_PULSES = (6667, 3333, 833, 834, 833, 833, 834, 833, 833, 834, 833, 3333, 834, 3333, 833, 834, 833)

# What the test does meanwhile: the script on standard input; Ctrl-C, or the line hanging
# up, once the wake-up byte is out; another program holding PTY; FILE as a LIRC transmitter.
STDIN, INTERRUPT, HANG_UP, HOLD, LIRC = "stdin", "interrupt", "hang-up", "hold", "lirc"

# runner, arguments, script, act, status, standard output, the program's lines on standard
# error (a final * matches any rest), the bytes at PTY (for LIRC the pulse lengths), the
# frames' widths at PTY or VCD; None is not judged.
ROWS = [
    ("native", "", "", None, 0, expected("usage.txt"), "", None, None),
    ("native", "-commands", "", None, 0, expected("commands.txt"), "", None, None),
    ("native", "-commandsv2", "", None, 0, expected("commandsv2.txt"), "", None, None),
    ("native", "-commandspet", "", None, 0, expected("commandspet.txt"), "", None, None),
    ("native", "0x3aa -mmtimer -port PTY", "", None, 0, "", "", W0, [12]),
    ("native", "-script - -pet -nowakeup -port VCD", "0 stop\r\n5 nosuch\n5 rock\n", STDIN, 0,
     "tarvik: unrecognized command: nosuch\n", "", b"", [12, 12]),
    ("native", "-script SCRIPT -port PTY", BACK_TO_BACK, INTERRUPT, 130, "", "", None, WHOLE),
    ("native", "-script SCRIPT -port PTY", BACK_TO_BACK, HANG_UP, 1, "error writing port\n",
     "tarvik: PTY: Input/output error\n", None, None),
    ("native", "stop -port PTY", "", HOLD, 1, O, "tarvik: PTY: in use by another program\n", b"", []),
    ("native", "walk_forward -port FILE", "", LIRC, 0, "", "", WALK_PULSES, None),
    ("wine", "/?", "", None, 0, expected("usage.txt"), "", None, None),
    ("wine", "-ports", "", None, 0, None, "", None, None),  # what QueryDosDevice shows
    ("wine", "walk_forward -port PTY", "", None, 0, "", "", W0, None),
    ("wine", "-script SCRIPT -nowakeup -port VCD", CRLF, None, 0, "", "", None, [8, 8, 8]),
    ("wine", "stop -port FILE", "", None, 1, O, "tarvik: FILE: not a serial device\n", None, None),
    ("wine", "-script SCRIPT -port PTY", "0 stop\n" * 2000, HANG_UP, 1, "error writing port\n",
     "tarvik: PTY: *", None, None),
    ("wine", "-script SCRIPT -port PTY", "100000 stop\n", INTERRUPT, 130, "", "", None, None),
    ("wine", "tests/tarvik_unit_tests.exe", "", None, 0, None, "", None, None),
    ("java", "stop 1 PTY", "", None, 0, "stop = 0x8e\nsent to PTY\n", "", W0, [8]),
]


def cleaned(text, only_ours):
    """What a user sees, but for the machine's part: no CRs, no priority
    warnings (rights), no frames reported disturbed (a busy machine's)."""
    return "".join(line + "\n" for line in text.replace("\r", "").splitlines()
                   if not line.startswith("Warning: ") and " disturbed" not in line
                   and (not only_ours or line.startswith("tarvik: ")))


@pytest.mark.parametrize("runner, args, script, act, status, out, err, port_bytes, frames", ROWS,
                         ids=["_".join(filter(None, [r[0], *r[1].split(), r[3]])) for r in ROWS])
def test_program(runner, args, script, act, status, out, err, port_bytes, frames, pty, tmp_path,
                 request):
    wine = request.getfixturevalue("wine") if runner == "wine" else None
    if runner == "wine" and wine is None:
        pytest.skip("wine is not tried here")
    if runner == "java" and (SANITIZED or not os.path.exists(os.path.join(BUILD, "java"))):
        pytest.skip("no Java library, or one the JVM cannot load (sanitizers)")
    z = "Z:" if wine else ""
    file, script_file, vcd = tmp_path / "notes.txt", tmp_path / "script.txt", tmp_path / "rec.vcd"
    file.write_text(NOTES)
    script_file.write_bytes(script.encode())
    names = {"PTY": "COM9" if wine else pty.name, "VCD": z + str(vcd),
             "FILE": z + os.path.realpath(file), "SCRIPT": z + str(script_file)}
    fill = lambda text: re.sub("|".join(names), lambda m: names[m.group()], text)  # noqa: E731
    env, argv = {}, [TARVIK] if runner == "native" else [
        "java", "-Xshare:off", "-Djava.library.path=" + BUILD, "-cp", os.path.join(BUILD, "java"),
        "TarvikDLL"]
    if wine:
        program, build, prefix, env = wine
        argv = [program, os.path.join(build, "tarvik.exe")]
        os.symlink(pty.name, tmp_path / "com9")  # in place of the last row's
        os.replace(tmp_path / "com9", os.path.join(prefix, "dosdevices", "com9"))
    argv = [program, os.path.join(build, args)] if args.endswith(".exe") else argv + fill(args).split()
    if act == LIRC:
        env = {"LD_PRELOAD": LIRC_STANDIN, "TARVIK_FAKE_LIRC": os.path.realpath(file)}
    if act == HOLD:
        fcntl.flock(pty.slave, fcntl.LOCK_EX | fcntl.LOCK_NB)

    def during(proc):
        # Once the wake-up byte is out, and likely some frames (however many).
        if select.select([pty.master], [], [], 60 * SLOWDOWN)[0] and pty.read() == W0:
            time.sleep(0.3)
            proc.send_signal(signal.SIGINT) if act == INTERRUPT else pty.hang_up()

    r = run(argv, stdin=script.encode() if act == STDIN else b"", env=env,
            record=not wine and act != LIRC, timeout=300 if wine else 120,
            during=during if act in (INTERRUPT, HANG_UP) else None)
    assert r.status == status, r.err  # exactly the program's own: killed by the signal is -2
    if out is not None:
        assert cleaned(r.out, False) == fill(out)
    got, err = cleaned(r.err, True), fill(err)
    assert (got[:len(err) - 1] + "*" if err.endswith("*") else got) == err
    content = file.read_bytes()
    if act == LIRC:
        assert struct.unpack("<%dI" % (len(content) // 4), content) == port_bytes
    else:
        assert content == NOTES.encode()  # refused ports are left untouched
        assert port_bytes is None or pty.read() == port_bytes
    changes = vcd_changes(vcd.read_text()) if "VCD" in args else r.changes
    if frames == WHOLE:  # interrupted, the frame being sent finishes: whole frames, the line off
        frames = [8] * (len(changes) // 18)
    assert frames is None or changes == frames_of_widths(frames)
    if "VCD" in args:  # viewers read it whole: sigrok keeps every change, gtkwave's converter too
        sigrok = run(["sigrok-cli", "-I", "vcd", "-i", str(vcd), "-O", "vcd"])
        seen = "".join(w[0] for w in sigrok.out.split() if len(w) == 2 and w[1] == "!")
        assert seen == "0" + changes, sigrok.err  # from the line's first value
        assert run(["vcd2fst", str(vcd), str(vcd) + ".fst"]).status == 0
