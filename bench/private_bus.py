"""A private system bus with polkit and RTKit, as a desktop session has
them, for the realtime benchmark and test: its own dbus-daemon, polkitd with
a rule granting RTKit's action seen only in polkitd's own mount namespace,
and rtkit-daemon. Nothing of the machine's own changes. Root only."""

import os
import shutil
import subprocess
import time

DBUS_DAEMON = shutil.which("dbus-daemon") or "/usr/bin/dbus-daemon"
POLKITD = "/usr/lib/polkit-1/polkitd"
RTKIT_DAEMON = "/usr/libexec/rtkit-daemon"
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]

BUS_CONFIG = """<busconfig>
  <type>system</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
"""
# What a local desktop session is granted; these processes have none.
RTKIT_RULE = """polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.RealtimeKit1.acquire-real-time")
        return polkit.Result.YES;
});
"""


def available():
    return all(os.access(p, os.X_OK) for p in (DBUS_DAEMON, POLKITD, RTKIT_DAEMON))


def wait_for_name(address, name, seconds):
    """Waits until a service owns its name on the bus."""
    for _ in range(int(seconds * 10)):
        answer = subprocess.run(
            ["busctl", "--address=" + address, "call", "org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s", name],
            capture_output=True, text=True, timeout=30)
        if answer.stdout.strip() == "b true":
            return
        time.sleep(0.1)
    raise RuntimeError("%s never came on the bus" % name)


def start(workdir, seconds=60):
    """The bus in workdir, its daemons started: (address, daemons)."""
    socket = os.path.join(workdir, "bus")
    config = os.path.join(workdir, "bus.conf")
    rules = os.path.join(workdir, "rules.d")
    os.mkdir(rules)
    os.chmod(rules, 0o755)
    with open(config, "w") as f:
        f.write(BUS_CONFIG % socket)
    with open(os.path.join(rules, "50-tarvik.rules"), "w") as f:
        f.write(RTKIT_RULE)
    address = "unix:path=" + socket
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL,
             "env": dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address)}
    daemons = [subprocess.Popen([DBUS_DAEMON, "--config-file=" + config, "--nofork"], **quiet)]
    try:
        for _ in range(int(seconds * 10)):
            if os.path.exists(socket):
                break
            time.sleep(0.1)
        os.chmod(socket, 0o666)
        daemons.append(subprocess.Popen(
            ["unshare", "-m", "--propagation", "private", "sh", "-c",
             'mount --bind "$0" /etc/polkit-1/rules.d && exec "$1" --no-debug', rules, POLKITD],
            **quiet))
        wait_for_name(address, "org.freedesktop.PolicyKit1", seconds)
        daemons.append(subprocess.Popen(
            [RTKIT_DAEMON, "--stderr", "--no-canary", "--no-drop-privileges", "--no-chroot",
             "--no-limit-resources"], **quiet))
        wait_for_name(address, "org.freedesktop.RealtimeKit1", seconds)
    except Exception:
        stop(daemons)
        raise
    return address, daemons


def stop(daemons):
    """Ends the daemons start() started, by their pids, within seconds."""
    for daemon in reversed(daemons):
        if daemon.poll() is None:
            daemon.terminate()
            try:
                daemon.wait(timeout=10)
            except subprocess.TimeoutExpired:
                daemon.kill()
                daemon.wait(timeout=10)
