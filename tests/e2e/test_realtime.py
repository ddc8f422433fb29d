"""Realtime for a user without the right to it: the real program as nobody
gets RTKit's grant on a private system bus (bench/private_bus.py)."""

import os
import shutil
import sys
import tempfile

import pytest

from conftest import ROOT, SLOWDOWN, TARVIK, frames_of_widths, run, vcd_changes

sys.path.insert(0, os.path.join(ROOT, "bench"))
import private_bus  # noqa: E402  the benchmark's bus, shared


def test_a_user_without_rights_gets_rtkit():
    if os.geteuid() != 0 or not private_bus.available():
        pytest.skip("the daemons take root, dbus-daemon, polkitd and rtkit-daemon")
    tmp = tempfile.mkdtemp(prefix="tarvik-rtkit-", dir="/tmp")  # nobody reads the script (TMPDIR may be closed)
    out, script = os.path.join(tmp, "out"), os.path.join(tmp, "script.txt")
    os.mkdir(out)
    os.chmod(out, 0o777)  # and writes the recording
    os.chmod(tmp, 0o755)
    with open(script, "w") as f:
        f.write("0 stop\n" * 5)
    os.chmod(script, 0o644)
    try:
        address, daemons = private_bus.start(tmp, 60 * SLOWDOWN)
        try:
            r = run(private_bus.NOBODY + [TARVIK, "-script", script, "-nowakeup", "-v", "-port",
                                          out + "/frames.vcd"], env={"DBUS_SYSTEM_BUS_ADDRESS": address})
        finally:
            private_bus.stop(daemons)
        assert r.status == 0, r.err
        assert "tarvik: realtime: RTKit, priority 20\n" in r.err and "no realtime" not in r.err
        assert r.out == ""  # no priority warnings: the thread is realtime
        with open(out + "/frames.vcd") as f:
            assert vcd_changes(f.read()) == frames_of_widths([8] * 5)
    finally:
        shutil.rmtree(tmp)
