"""A setting changed before its settings file is read is kept over the
file's value, and written.

The channels read their files when their cards first report ready, after
the SCPI and JSON ports are open; the meter reads its own while the
front-panel keys already work.  To change a setting at a moment known to
come before the reading, the test makes the file a named pipe: tvl4700's
reading of it waits until the test writes the file's text into the pipe.
The saved file then replaces the pipe."""
import errno
import os
import re
import signal

import pytest

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from menu_screen import BACK, MenuScreen
from menu_table import TREE
from scpiclient import open_session, poll

SLOTS = (1, 2, 3)
# The channel files say gauss (0) and zero mode 1; the meter file degrees
# (0) and GPIB address 5.
CHANNEL_FILE = "fluxunits: 0\nzeromode: 1\n"
METER_FILE = "angleunits: 0\ngpibaddress: 5\n"


def settings(inst, name):
    """The file's settings; none while it is still the pipe (or missing)."""
    path = inst.file("/var/lib/tarvel/" + name)
    if not os.path.isfile(path):
        return {}
    with open(path) as f:
        return dict(re.findall(r"^(\w+): (.*)$", f.read(), re.M))


class PipedFile:
    """A settings file as a named pipe: the program's reading of it waits
    until a reader is there (waiting()) and the text is written (feed())."""

    def __init__(self, inst, name):
        self.path = inst.file("/var/lib/tarvel/" + name)
        os.mkfifo(self.path)
        self.fd = None

    def waiting(self):
        """True once the program has opened the pipe to read it: it then
        reads until feed() closes the pipe."""
        if self.fd is None:
            try:
                self.fd = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)
            except OSError as e:
                if e.errno != errno.ENXIO:   # no reader yet
                    raise
        return self.fd is not None

    def feed(self, text):
        os.set_blocking(self.fd, True)
        os.write(self.fd, text.encode())
        os.close(self.fd)
        self.fd = None


def set_tesla(inst, client):
    """:UNIT:FLUX TESLA (SCPI) or setFluxUnits 1 (JSON), acknowledged."""
    if client == "scpi":
        scpi = open_session(inst.scpi_port())
        scpi.write(":UNIT:FLUX TESLA")
        assert scpi.query("*OPC?") == "1"
        assert scpi.query(":UNIT:FLUX?") == "TESLA"
        scpi.close()
    else:
        with JsonClient(inst.json_port()) as web:
            assert web.ask("setFluxUnits", units=1)["success"] is True


@pytest.mark.parametrize("client", ["scpi", "json"])
def test_a_channel_setting_changed_before_the_file_is_read_is_kept_and_written(client):
    with Instrument(tvl=False) as inst:
        pipes = {slot: PipedFile(inst, "ch%d" % slot) for slot in SLOTS}
        inst.start_program("tvl4700", ["-can", inst.bus, "-skipBootload"])
        inst.wait_ready()
        # Every channel is reading its file, none has its text yet.
        wait_until(lambda: all(p.waiting() for p in pipes.values()), 60, what="the channels reading their files")
        set_tesla(inst, client)
        for pipe in pipes.values():
            pipe.feed(CHANNEL_FILE)

        inst.wait_probes_ready()
        scpi = open_session(inst.scpi_port())
        assert scpi.query(":UNIT:FLUX?") == "TESLA"
        with JsonClient(inst.json_port()) as web:
            for slot in SLOTS:
                reply = web.ask("pollChannel", channel=slot)
                assert (reply["fluxUnits"], reply["zeroMode"]) == (1, 1), "slot %d: %r" % (slot, reply)
        scpi.close()
        # Written by the save timer, with the file's other values.
        wait_until(lambda: all(settings(inst, "ch%d" % s).get("fluxunits") == "1" for s in SLOTS), 60,
                   what="tesla in the channel files")
        for slot in SLOTS:
            assert settings(inst, "ch%d" % slot)["zeromode"] == "1"

        inst.restart_tvl()
        inst.wait_ready()
        inst.wait_probes_ready()
        scpi = open_session(inst.scpi_port())
        poll(scpi, ":UNIT:FLUX?", lambda reply: reply == "TESLA", 60, "the flux unit after the restart")
        scpi.close()


def test_a_meter_setting_changed_before_the_file_is_read_is_kept_and_written():
    """Radians chosen with the keys while the meter reads its file.  The
    start-up step runs on the bootloader's thread (on a virtual bus it loads
    nothing), so that the keys work while it waits for the file."""
    with Instrument(frontpanel=True, tvl=False) as inst:
        pipe = PipedFile(inst, "bp")
        inst.start_program("tvl4700", ["-can", inst.bus])
        wait_until(pipe.waiting, 60, what="the meter reading its file")
        screen = MenuScreen(inst)
        # Generous waits: the sanitizer builds on a busy machine are slow.
        screen.wait_for(*TREE["main"][:2], timeout=60, what="at start")
        screen.press(2)
        screen.wait_for(*TREE["units"][:2], timeout=60, what="units")
        screen.press(3)
        screen.wait_for(*TREE["angles"][:2], timeout=60, what="angles")
        screen.press(2)
        screen.wait_for(*TREE["angles"][:2], marks=[1], timeout=60, what="radians chosen")
        pipe.feed(METER_FILE)

        inst.wait_ready()
        screen.wait_for(*TREE["angles"][:2], marks=[1], timeout=60, what="radians after the file was read")
        inst.wait_probes_ready()
        scpi = open_session(inst.scpi_port())
        assert scpi.query(":UNIT:ANGL?") == "RAD"
        scpi.close()
        screen.press(BACK, BACK)
        wait_until(lambda: settings(inst, "bp").get("angleunits") == "1", 60, what="radians in the meter file")
        assert settings(inst, "bp")["gpibaddress"] == "5"

        inst.restart_tvl(())
        inst.wait_ready()
        scpi = open_session(inst.scpi_port())
        assert scpi.query(":UNIT:ANGL?") == "RAD"
        scpi.close()


@pytest.mark.parametrize("client", ["scpi", "json"])
def test_a_stop_before_the_file_is_read_writes_the_change_over_the_file(client):
    """No cards on the bus: the channels never read their files.  A change
    acknowledged before a stop goes into the file over its value; the file's
    other values stay, and a channel with no change keeps its file."""
    with Instrument(mendra=False) as inst:
        for slot in SLOTS:
            with open(inst.file("/var/lib/tarvel/ch%d" % slot), "w") as f:
                f.write(CHANNEL_FILE)
        inst.wait_ready()
        set_tesla(inst, client)
        tvl = inst.tvl()
        tvl.proc.send_signal(signal.SIGTERM)
        assert tvl.proc.wait(10) == 0, tvl.output()[-2000:]
        for slot in SLOTS:
            assert settings(inst, "ch%d" % slot) == {"fluxunits": "1", "zeromode": "1"}, slot
