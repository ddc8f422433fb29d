"""Realtime for a user without the right to it: the real program as nobody
gets RTKit's grant on a private system bus (its own dbus-daemon, polkitd
with a test rule seen only in its own mount namespace, rtkit-daemon), and
the package that grants realtime to the group tarvik."""

import os
import select
import shutil
import subprocess
import tempfile
import time

import pytest

from conftest import BUILD, SLOWDOWN, TARVIK, frames_of_widths, run, vcd_changes

DBUS_DAEMON = shutil.which("dbus-daemon") or "/usr/bin/dbus-daemon"
POLKITD = "/usr/lib/polkit-1/polkitd"
RTKIT_DAEMON = "/usr/libexec/rtkit-daemon"
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

# What a local desktop session is granted; the test's processes have none.
RULE = """polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.RealtimeKit1.acquire-real-time")
        return polkit.Result.YES;
});
"""


def stop(process):
    """Ends a daemon the test started, by its pid, within seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def wait_for_name(address, name):
    """Waits until a service owns its name on the bus (a minute at most)."""
    for _ in range(600 * SLOWDOWN):
        answer = subprocess.run(
            ["busctl", "--address=" + address, "call", "org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s", name],
            capture_output=True, text=True, timeout=30)
        if answer.stdout.strip() == "b true":
            return
        time.sleep(0.1)
    pytest.fail("%s never came on the bus" % name)


@pytest.fixture
def rtkit_bus():
    """A private system bus with polkit and RTKit: its address."""
    if os.geteuid() != 0:
        pytest.skip("starting the daemons takes root")
    for program in (DBUS_DAEMON, POLKITD, RTKIT_DAEMON):
        if not os.access(program, os.X_OK):
            pytest.skip("%s is not installed" % program)
    tmp = tempfile.mkdtemp(prefix="tarvik-rtkit-")
    os.chmod(tmp, 0o755)
    socket = os.path.join(tmp, "bus")
    config = os.path.join(tmp, "bus.conf")
    rules = os.path.join(tmp, "rules.d")
    os.mkdir(rules)
    os.chmod(rules, 0o755)
    with open(config, "w") as f:
        f.write(BUS_CONFIG % socket)
    with open(os.path.join(rules, "50-tarvik-test.rules"), "w") as f:
        f.write(RULE)
    address = "unix:path=" + socket
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)
    daemons = []
    try:
        bus = subprocess.Popen([DBUS_DAEMON, "--config-file=" + config, "--nofork",
                                "--print-address"], stdout=subprocess.PIPE)
        daemons.append(bus)
        if not select.select([bus.stdout], [], [], 60 * SLOWDOWN)[0] or not bus.stdout.readline():
            pytest.fail("dbus-daemon did not start")
        os.chmod(socket, 0o666)
        # The rule is seen by this polkitd alone: the machine's /etc stays.
        daemons.append(subprocess.Popen(
            ["unshare", "-m", "--propagation", "private", "sh", "-c",
             'mount --bind "$0" /etc/polkit-1/rules.d && exec "$1" --no-debug', rules, POLKITD],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for_name(address, "org.freedesktop.PolicyKit1")
        daemons.append(subprocess.Popen(
            [RTKIT_DAEMON, "--stderr", "--no-canary", "--no-drop-privileges", "--no-chroot",
             "--no-limit-resources"], env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL))
        wait_for_name(address, "org.freedesktop.RealtimeKit1")
        yield address, tmp
    finally:
        for daemon in reversed(daemons):
            stop(daemon)
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
    result = run(NOBODY + [TARVIK, "-script", script, "-nowakeup", "-v", "-port", recording],
                 env={"DBUS_SYSTEM_BUS_ADDRESS": address})
    assert result.status == 0, result.err
    assert "tarvik: realtime: RTKit, priority 20\n" in result.err
    assert "no realtime priority" not in result.err
    assert result.out == ""  # no priority warnings: the thread is realtime
    with open(recording) as f:
        assert vcd_changes(f.read()) == frames_of_widths([8] * 5)


def test_the_package_grants_realtime_to_the_group_tarvik(tmp_path):
    """Built from the suite's build into a folder of its own, unpacked,
    never installed. Purging removes the limits file because it is a
    conffile; the group stays, as Debian does with system groups."""
    if not shutil.which("cpack") or not shutil.which("dpkg-deb"):
        pytest.skip("no cpack or dpkg-deb")
    subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                    "-B", str(tmp_path)], check=True, capture_output=True, timeout=300)
    deb = next(str(p) for p in tmp_path.glob("tarvik_*.deb"))
    control = tmp_path / "control"
    subprocess.run(["dpkg-deb", "-x", deb, str(tmp_path / "root")], check=True, timeout=60)
    subprocess.run(["dpkg-deb", "-e", deb, str(control)], check=True, timeout=60)
    limits = (tmp_path / "root/etc/security/limits.d/tarvik.conf").read_text()
    rows = [line.split() for line in limits.splitlines() if line and not line.startswith("#")]
    assert rows == [["@tarvik", "-", "rtprio", "49"], ["@tarvik", "-", "nice", "-20"],
                    ["@tarvik", "-", "memlock", "unlimited"]]
    assert (control / "conffiles").read_text().split() == ["/etc/security/limits.d/tarvik.conf"]
    depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True,
                             text=True, check=True, timeout=60).stdout
    assert "adduser" in depends
    # The postinst, run in a sandbox where addgroup and getent only say
    # what they were asked: configure adds the group once.
    fake_bin = tmp_path / "bin"
    fake_bin.mkdir()
    calls = tmp_path / "calls"
    for name, status in (("addgroup", 0), ("getent", 2)):
        (fake_bin / name).write_text('#!/bin/sh\necho "%s $*" >> %s\nexit %d\n'
                                     % (name, calls, status))
        (fake_bin / name).chmod(0o755)
    for argument in ("configure", "abort-upgrade"):
        subprocess.run(["sh", str(control / "postinst"), argument], check=True, timeout=60,
                       env=dict(os.environ, PATH="%s:/usr/bin:/bin" % fake_bin))
    assert calls.read_text() == "getent group tarvik\naddgroup --system --quiet tarvik\n"
