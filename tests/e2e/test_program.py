"""The program itself, natively: what it prints and how it ends."""

import pytest

from conftest import TARVIK, expected, run


@pytest.mark.parametrize("args, out", [
    ([], expected("usage.txt")),
    (["-commands"], expected("commands.txt")),
    (["-commandsv2"], expected("commandsv2.txt")),
    (["-commandspet"], expected("commandspet.txt")),
])
def test_texts(args, out):
    r = run([TARVIK] + args)
    assert (r.status, r.out, r.err) == (0, out, "")


@pytest.mark.parametrize("port", ["/dev/null"])
def test_a_device_that_is_no_serial_line_is_refused(port):
    """A character device with no line settings takes no frame: refused
    before anything is written or any break condition asked for."""
    r = run([TARVIK, "stop", "-v", "-port", port], record=True, timeout=30)
    assert (r.status, r.out, r.err, r.changes) == (
        1, "error opening port\n", "tarvik: %s: not a serial device\n" % port, "")
