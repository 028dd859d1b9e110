"""A full disk is an error, never a crash or a silent loss.  The sandbox's
data folder (settings, error queue, counters) and its data-log folder are
small file systems of their own, filled to the last byte while the
instrument runs:
- a settings save that fails is reported once (console and SCPI error
  queue), the old file stays whole, and the file is written as soon as there
  is room again, with no further change;
- a profile that cannot be saved is reported, and one that cannot be
  restored is reported and leaves the settings in force and their files;
- a data log whose row cannot be written stops with an error that SCPI and
  JSON report, and its row count is the rows in its file; one that cannot
  start leaves no log to stop.

The small file systems are tmpfs mounts in a private mount namespace, which
this test process enters (root or CAP_SYS_ADMIN); where one cannot be made
the test is skipped with the reason.  The same logic is covered everywhere
by the unit tests' injected write failures."""
import ctypes
import errno
import os
import select
import shutil
import struct
import time

import pytest

from instrument import Instrument, make_sandbox, wait_until
from jsonclient import JsonClient
from scpiclient import open_session

_libc = ctypes.CDLL(None, use_errno=True)
_CLONE_NEWNS = 0x00020000
_MS_REC = 0x4000
_MS_PRIVATE = 1 << 18
_MNT_DETACH = 2

_IN_CREATE = 0x100
_IN_DELETE = 0x200

DATA = "/var/lib/tarvel"
LOGS = "/var/www/datalogs"


def _failure(call):
    return "%s: %s" % (call, os.strerror(ctypes.get_errno()))


def _private_mount_namespace():
    """Enters a mount namespace of this process's own in which no mount is
    seen outside it; returns why it cannot be made, or None."""
    if _libc.unshare(_CLONE_NEWNS) != 0:
        return _failure("unshare(CLONE_NEWNS)")
    if _libc.mount(b"none", b"/", None, _MS_REC | _MS_PRIVATE, None) != 0:
        return _failure("making the mounts private")
    return None


def _mount_small(folder, size):
    """A tmpfs of size bytes over folder, holding what the folder held."""
    keep = folder + ".keep"
    shutil.copytree(folder, keep)
    if _libc.mount(b"tvl-small", folder.encode(), b"tmpfs", 0, ("size=%d" % size).encode()) != 0:
        problem = _failure("mounting a tmpfs")
        shutil.rmtree(keep)
        return problem
    shutil.copytree(keep, folder, dirs_exist_ok=True)
    shutil.rmtree(keep)
    return None


def fill(folder):
    """Takes every free byte of the folder's file system."""
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT | os.O_APPEND)
    try:
        while True:
            os.write(fd, b"\0" * 4096)
    except OSError as e:
        assert e.errno == errno.ENOSPC
    finally:
        os.close(fd)


def free(folder):
    os.remove(os.path.join(folder, "filler"))


class FolderWatch:
    """Files made and removed in a folder (inotify), from its making on."""

    def __init__(self, folder):
        self.fd = _libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        assert self.fd >= 0, _failure("inotify_init1")
        assert _libc.inotify_add_watch(self.fd, folder.encode(), _IN_CREATE | _IN_DELETE) >= 0, \
            _failure("inotify_add_watch")
        self.pending = b""

    def close(self):
        os.close(self.fd)

    def wait(self, mask, prefix, timeout):
        """The name of the next file made (or removed) whose name begins
        with prefix; fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            while len(self.pending) >= 16:
                _, event, _, size = struct.unpack("iIII", self.pending[:16])
                name = self.pending[16:16 + size].rstrip(b"\0").decode()
                self.pending = self.pending[16 + size:]
                if event & mask and name.startswith(prefix):
                    return name
            left = deadline - time.monotonic()
            assert left > 0, "no file %s* within %g s" % (prefix, timeout)
            if select.select([self.fd], [], [], left)[0]:
                self.pending += os.read(self.fd, 65536)


@pytest.fixture(scope="module")
def sandbox():
    problem = _private_mount_namespace()
    if problem:
        pytest.skip("no private mount namespace to mount small file systems in (%s)" % problem)
    root = make_sandbox()
    mounted = []
    try:
        for path in (DATA, LOGS):
            folder = os.path.join(root, path.lstrip("/"))
            problem = _mount_small(folder, 1 << 20)
            if problem:
                pytest.skip("no small file system for the sandbox (%s)" % problem)
            mounted.append(folder)
        yield root
    finally:
        for folder in mounted:
            _libc.umount2(folder.encode(), _MNT_DETACH)
        shutil.rmtree(root, ignore_errors=True)


def errors(scpi):
    """Empties the SCPI error queue; returns its entries oldest first."""
    found = []
    while True:
        reply = scpi.query(":SYST:ERR:NEXT?")
        if reply == '0,"No error"':
            return found
        found.append(reply)


def profile_errors(scpi):
    return [e for e in errors(scpi) if "profile" in e]


def test_full_disk_is_an_error_never_a_silent_loss(sandbox):
    with Instrument(sandbox=sandbox) as inst:
        inst.wait_ready()
        inst.wait_probes_ready()
        data = inst.file(DATA)
        logs = inst.file(LOGS)
        bp = os.path.join(data, "bp")
        scpi = open_session(inst.scpi_port())
        web = JsonClient(inst.json_port())
        web.ask("setUpdateRate", rate=5)   # rows come 5 times a second
        # The meter's file is written by its first tick after the start.
        wait_until(lambda: os.path.exists(bp) and "lcdlevel:" in open(bp).read(), 30, what="the meter's file")
        errors(scpi)

        # -- settings: the change stays in memory, the old file whole
        fill(data)
        before = open(bp).read()
        scpi.write(":UNIT:ANGL RAD")
        wait_until(lambda: "settings file bp not saved" in inst.tvl().output(), 30, what="the report")
        # One more save fails without a word: its temporary file is made and
        # removed again (the timers tick every 10 s).
        watch = FolderWatch(data)
        try:
            attempt = watch.wait(_IN_CREATE, "bp.tmp", 30)
            assert watch.wait(_IN_DELETE, attempt, 30) == attempt
        finally:
            watch.close()
        assert open(bp).read() == before
        reported = errors(scpi)
        assert '-250,"Mass storage error; settings file bp not saved: No space left on device"' in reported
        assert len([e for e in reported if "settings file bp" in e]) == 1, reported
        free(data)
        wait_until(lambda: "angleunits: 1\n" in open(bp).read(), 30, what="the file written with room again")
        # The line comes just after the file is in place.
        wait_until(lambda: "settings file bp saved" in inst.tvl().output(), 10, what="the report of the save")
        assert inst.tvl().output().count("settings file bp not saved") == 1
        assert not [name for name in os.listdir(data) if ".tmp" in name]

        # -- profiles: a save that fails is reported and saves nothing; a
        # restore that fails is reported and keeps the settings in force
        # (angle units in radians) and their files.
        scpi.write("*SAV 4")
        assert scpi.query("*OPC?") == "1"
        assert not profile_errors(scpi)
        scpi.write(":UNIT:ANGL DEG")
        fill(data)
        scpi.write("*SAV 3")
        assert scpi.query("*OPC?") == "1"
        reported = errors(scpi)
        assert [e for e in reported if e.startswith('-250,"Mass storage error; profile 3 not saved: ')], reported
        scpi.write("*RCL 4")
        assert scpi.query("*OPC?") == "1"
        reported = errors(scpi)
        assert [e for e in reported if e.startswith('-250,"Mass storage error; profile 4 not restored: ')], reported
        assert scpi.query(":UNIT:ANGL?") == "DEG"
        free(data)
        wait_until(lambda: "angleunits: 0\n" in open(bp).read(), 30, what="the settings in force written")
        for n in (3, 7):    # 3 never saved either
            scpi.write("*RCL %d" % n)
            assert scpi.query("*OPC?") == "1"
            assert profile_errors(scpi) == ['-250,"Mass storage error; profile %d not restored: '
                                            'tvl4700-restore-profile.sh failed (status 1)"' % n]
            assert scpi.query(":UNIT:ANGL?") == "DEG"
            for f in ("bp", "ch1", "ch2", "ch3"):
                assert os.path.exists(os.path.join(data, f)), f
        assert "angleunits: 0\n" in open(bp).read()
        scpi.write("*RCL 4")
        assert scpi.query("*OPC?") == "1"
        assert not profile_errors(scpi)
        assert scpi.query(":UNIT:ANGL?") == "RAD"

        # -- data log: no room for its header: the start fails
        fill(logs)
        assert web.ask("startDataLogging") == {"success": False}
        assert web.ask("getDataLogRowCount") == {"rows": 0}
        assert web.ask("stopDataLogging") == {"success": False}, "no log to stop"
        free(logs)

        # -- data log: the disk fills while it runs
        assert web.ask("startDataLogging") == {"success": True}
        web.poll_until(lambda r: r["rows"] >= 3, "getDataLogRowCount", 30)
        fill(logs)
        reply = web.poll_until(lambda r: "error" in r, "getDataLogRowCount", 120, "the log stopped")
        assert reply["error"] == "No space left on device"
        stopped = web.ask("stopDataLogging")
        assert stopped["success"] is False and stopped["error"] == "No space left on device", stopped
        name = os.path.basename(stopped["filename"])
        with open(os.path.join(logs, name)) as f:
            lines = f.read().split("\n")
        assert lines[-1] == "", "the file ends with a whole row"
        assert len(lines) - 2 == reply["rows"], "a header and the rows counted"
        assert web.ask("getDataLogRowCount")["rows"] == reply["rows"]
        assert '-250,"Mass storage error; data log %s stopped: No space left on device"' % name in errors(scpi)
        assert "Data log /datalogs/%s stopped after %d rows" % (name, reply["rows"]) in inst.tvl().output()
        free(logs)

        # With room again a new log runs.
        assert web.ask("startDataLogging") == {"success": True}
        web.poll_until(lambda r: r["rows"] >= 1, "getDataLogRowCount", 30)
        assert web.ask("stopDataLogging")["success"] is True
        assert inst.tvl().running()
        scpi.close()
        web.close()
