"""The programs on the command line: a CAN interface name that no bus can
have is refused before anything starts."""
import os
import shutil
import subprocess

import pytest

from instrument import BIN_DIR, make_sandbox

TOO_LONG = "x" * 16


@pytest.fixture
def sandbox():
    root = make_sandbox()
    yield root
    shutil.rmtree(root, ignore_errors=True)


def run(program, args, sandbox, timeout=30, prefix=()):
    """Runs a program to its end; returns (status, output)."""
    p = subprocess.run(list(prefix) + [os.path.join(BIN_DIR, program), "-sandbox", sandbox] + args,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                       timeout=timeout)
    return p.returncode, p.stdout.decode("latin-1")


# Each program, the arguments that name the bus (NAME stands for it) and the
# status of the refusal: tvl4700, mendra and frontpanel-sim refuse a bad
# argument with 2, the bus tools with 1 (as their usage errors).
PROGRAMS = [
    ("tvl4700", ["-can", "NAME", "-skipBootload"], 2),
    ("mendra", ["-can", "NAME"], 2),
    ("frontpanel-sim", ["-can", "NAME"], 2),
    ("canbus-send", ["NAME", "16A#"], 1),
    ("canbus-dump", ["NAME"], 1),
]

NAMES = [
    (TOO_LONG, "CAN interface name longer than 15 characters: " + TOO_LONG),
    ("abcdefghijklmnopqrs", "CAN interface name longer than 15 characters: abcdefghijklmnopqrs"),
    ("", "CAN interface name is empty"),
    ("a/b", "Invalid CAN interface name: a/b"),
]


@pytest.mark.parametrize("program,args,refused", PROGRAMS)
def test_a_name_no_bus_can_have_is_refused_at_start(sandbox, program, args, refused):
    for name, reason in NAMES:
        if program == "canbus-dump" and not name:
            continue   # no argument at all to it: its usage
        status, out = run(program, [name if a == "NAME" else a for a in args], sandbox)
        assert status == refused, (name, out)
        assert reason + "\n" in out, (name, out)
        assert "CAN running" not in out, (name, out)
        assert out.count(reason) == 1, (name, out)
