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
