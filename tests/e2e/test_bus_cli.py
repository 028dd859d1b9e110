"""The programs on the command line: a CAN interface name that no bus can
have is refused before anything starts, a bus folder on a full file system
gives a clear error and a failure status instead of a program killed by
SIGBUS, and the bus file goes with the last program on the bus."""
import os
import shutil
import subprocess

import pytest

from instrument import BIN_DIR, Instrument, make_sandbox

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


def in_full_bus_folder(sandbox):
    """A command prefix that runs a program in a mount namespace of its own
    whose bus folder is a tmpfs with far less room than a bus file needs."""
    folder = os.path.join(sandbox, "run", "tvl", "canbus")
    os.makedirs(folder, exist_ok=True)
    probe = subprocess.run(["unshare", "-m", "--propagation", "private", "mount", "-t", "tmpfs", "-o", "size=1m",
                            "tvl-test", folder], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if probe.returncode != 0:
        pytest.skip("a tmpfs in a mount namespace of its own needs root (CAP_SYS_ADMIN): "
                    + probe.stdout.decode("latin-1").strip())
    return ["unshare", "-m", "--propagation", "private", "sh", "-c",
            'mount -t tmpfs -o size=1m tvl-test "$0" && exec "$@"', folder]


def test_a_full_bus_folder_gives_an_error_at_open_never_a_signal(sandbox):
    prefix = in_full_bus_folder(sandbox)
    reason = "Cannot reserve the "
    # Every program that needs the bus says why and ends with status 1: the
    # bus tools, and mendra and tvl4700 before they run without a bus.
    for program, args in (("canbus-send", ["vfull", "16A#"]), ("canbus-dump", ["vfull"]),
                          ("mendra", ["-can", "vfull"]), ("tvl4700", ["-can", "vfull", "-skipBootload"])):
        status, out = run(program, args, sandbox, prefix=prefix)
        assert status == 1, (program, out)
        assert reason in out and "No space left on device" in out, (program, out)
        assert "CAN running" not in out and "Using CAN" not in out, (program, out)


def bus_files(sandbox):
    folder = os.path.join(sandbox, "run", "tvl", "canbus")
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


@pytest.mark.parametrize("last", ["tvl4700", "mendra"])
def test_the_last_program_to_stop_removes_the_bus_file(sandbox, last):
    """mendra and tvl4700 on one bus, stopped one after the other: the bus
    file stays while one of them runs and goes with the last."""
    with Instrument(sandbox=sandbox) as inst:
        inst.wait_ready()
        assert bus_files(sandbox) == [inst.bus + ".bus"]
        first = "mendra" if last == "tvl4700" else "tvl4700"
        assert inst.procs[first].stop() == 0
        assert bus_files(sandbox) == [inst.bus + ".bus"], "%s still has it open" % last
        assert inst.procs[last].stop() == 0
        assert bus_files(sandbox) == []
