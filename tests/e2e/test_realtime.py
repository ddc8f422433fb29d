"""Realtime for a user without the right to it: the real program as nobody
gets RTKit's grant on a private system bus (its own dbus-daemon, polkitd
with a test rule seen only in its own mount namespace, rtkit-daemon)."""

import os
import shutil
import sys
import tempfile

import pytest

from conftest import ROOT, SLOWDOWN, TARVIK, frames_of_widths, run, vcd_changes

sys.path.insert(0, os.path.join(ROOT, "bench"))
import private_bus  # noqa: E402  the benchmark's bus, shared


@pytest.fixture
def rtkit_bus():
    """A private system bus with polkit and RTKit: its address, and a folder
    the user nobody can read."""
    if os.geteuid() != 0:
        pytest.skip("starting the daemons takes root")
    if not private_bus.available():
        pytest.skip("dbus-daemon, polkitd or rtkit-daemon is not installed")
    tmp = tempfile.mkdtemp(prefix="tarvik-rtkit-")
    os.chmod(tmp, 0o755)
    try:
        address, daemons = private_bus.start(tmp, 60 * SLOWDOWN)
        try:
            yield address, tmp
        finally:
            private_bus.stop(daemons)
    finally:
        shutil.rmtree(tmp)


def test_a_user_without_rights_gets_rtkit(rtkit_bus):
    address, tmp = rtkit_bus
    script = os.path.join(tmp, "script.txt")
    recording = os.path.join(tmp, "out", "frames.vcd")
    os.mkdir(os.path.dirname(recording))
    os.chmod(os.path.dirname(recording), 0o777)  # nobody writes the recording
    with open(script, "w") as f:
        f.write("0 stop\n" * 5)
    os.chmod(script, 0o644)
    result = run(private_bus.NOBODY + [TARVIK, "-script", script, "-nowakeup", "-v", "-port", recording],
                 env={"DBUS_SYSTEM_BUS_ADDRESS": address})
    assert result.status == 0, result.err
    assert "tarvik: realtime: RTKit, priority 20\n" in result.err
    assert "no realtime priority" not in result.err
    assert result.out == ""  # no priority warnings: the thread is realtime
    with open(recording) as f:
        assert vcd_changes(f.read()) == frames_of_widths([8] * 5)
