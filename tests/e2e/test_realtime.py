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
    tmp = tempfile.mkdtemp(prefix="tarvik-rtkit-", dir="/tmp")  # TMPDIR may be closed to nobody
    os.chmod(tmp, 0o1777)  # nobody writes the recording; like /tmp, no one else's files
    try:
        address, daemons = private_bus.start(tmp, 60 * SLOWDOWN)
        try:
            r = run(private_bus.NOBODY + [TARVIK, "-script", "-", "-nowakeup", "-v", "-port", tmp + "/frames.vcd"],
                    stdin=b"0 stop\n" * 5, env={"DBUS_SYSTEM_BUS_ADDRESS": address})
        finally:
            private_bus.stop(daemons)
        assert (r.status, r.out) == (0, ""), r.err  # no priority warnings: the thread is realtime
        assert "tarvik: realtime: RTKit, priority 20\n" in r.err and "no realtime" not in r.err
        assert vcd_changes(open(tmp + "/frames.vcd").read()) == frames_of_widths([8] * 5)
    finally:
        shutil.rmtree(tmp)
