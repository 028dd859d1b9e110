"""A normal stop loses nothing acknowledged: settings changed over SCPI just
before SIGTERM or SIGINT, and an error just queued, are in the files when
tvl4700 starts again (the save timers would have written them 10 s later),
the stop is prompt and clean, and the port announcements are gone.  SIGHUP
and the loss of the X server stop it the same way."""
import os
import signal
import time

import pytest

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from scpiclient import open_session, poll
from screen import XServer


def read(inst, instrument_path):
    with open(inst.file(instrument_path)) as f:
        return f.read()


@pytest.mark.parametrize("stop_signal", [signal.SIGTERM, signal.SIGINT], ids=["SIGTERM", "SIGINT"])
def test_settings_changed_just_before_a_stop_are_kept(stop_signal):
    with Instrument() as inst:
        inst.wait_ready()
        # The channel files are read once the cards answer: the probes
        # being ready comes well after that.
        inst.wait_probes_ready()
        web = JsonClient(inst.json_port())   # a client still connected at the stop
        scpi = open_session(inst.scpi_port())
        scpi.write(":UNIT:FLUX TESLA")
        scpi.write(":UNIT:ANGL RAD")
        scpi.write(":NO:SUCH:COMMAND")
        assert scpi.query(":UNIT:FLUX?") == "TESLA"
        assert scpi.query(":UNIT:ANGL?") == "RAD"

        tvl = inst.tvl().proc
        tvl.send_signal(stop_signal)
        started = time.monotonic()
        status = tvl.wait(10)
        assert status == 0, "ended by the stop, not killed"
        assert time.monotonic() - started < 5
        assert "Stopped" in inst.tvl().output()
        scpi.close()
        web.close()

        assert os.listdir(inst.file("/run/ports")) == []
        for channel in ("ch1", "ch2", "ch3"):
            assert "fluxunits: 1\n" in read(inst, "/var/lib/tarvel/" + channel), channel
        assert "angleunits: 1\n" in read(inst, "/var/lib/tarvel/bp")
        assert "-100,:NO:SUCH:COMMAND,\n" in read(inst, "/var/lib/tarvel/errs")
        assert not [name for name in os.listdir(inst.file("/var/lib/tarvel")) if ".tmp" in name]

        # Started again, the instrument has them.
        inst.restart_tvl()
        inst.wait_ready()
        scpi = open_session(inst.scpi_port())
        assert scpi.query(":UNIT:ANGL?") == "RAD"
        poll(scpi, ":UNIT:FLUX?", lambda reply: reply == "TESLA", 60, "the flux unit read back")
        errors = [scpi.query(":SYST:ERR:NEXT?") for _ in range(4)]
        assert errors == ['-500,"Power on"', '-100,"Command error; :NO:SUCH:COMMAND"', '-500,"Power on"',
                          '0,"No error"']
        scpi.close()


@pytest.mark.parametrize("cause", ["SIGHUP", "X server lost"])
def test_a_hang_up_or_the_loss_of_the_x_server_stops_in_order(cause):
    """The terminal closed (SIGHUP) or the X server gone ("X I/O error"):
    the change made a moment before is written and the port announcements
    are withdrawn, as on SIGTERM.  The temporary files that a killed run left
    beside the files the program writes are gone once it has started."""
    stale = ["var/lib/tarvel/" + name + ".tmpK1lled" for name in ("bp", "ch2", "errs", "fileio")]
    stale.append("run/ports/scpi.tmpK1lled")
    not_its_own = "var/lib/tarvel/notes.tmpK1lled"
    with XServer() as x:
        inst = Instrument(display=x.display)
        for path in stale + [not_its_own]:
            os.makedirs(os.path.dirname(inst.file(path)), exist_ok=True)
            with open(inst.file(path), "w") as f:
                f.write("half a file\n")
        with inst:
            inst.wait_ready()
            inst.wait_probes_ready()
            assert [path for path in stale if os.path.exists(inst.file(path))] == []
            assert os.path.exists(inst.file(not_its_own))
            scpi = open_session(inst.scpi_port())
            scpi.write(":UNIT:FLUX TESLA")
            scpi.write(":UNIT:ANGL RAD")
            assert scpi.query(":UNIT:ANGL?") == "RAD"

            tvl = inst.tvl().proc
            if cause == "SIGHUP":
                tvl.send_signal(signal.SIGHUP)
            else:
                x.proc.kill()
            status = tvl.wait(10)
            scpi.close()
            output = inst.tvl().output()
            if cause == "SIGHUP":
                assert status == 0
                assert "Stopping (SIGHUP)" in output
            else:
                assert status == 1, "the toolkit's fatal error's status"
                assert "Stopping (X I/O error)" in output
            assert "Stopped\n" in output

            assert os.listdir(inst.file("/run/ports")) == []
            for channel in ("ch1", "ch2", "ch3"):
                assert "fluxunits: 1\n" in read(inst, "/var/lib/tarvel/" + channel), channel
            assert "angleunits: 1\n" in read(inst, "/var/lib/tarvel/bp")


def test_a_stop_is_prompt_while_a_thread_is_busy():
    """A SCPI client's profile save waits for a script that does not end:
    the stop neither waits for that thread nor loses a change made meanwhile
    over JSON."""
    with Instrument() as inst:
        script = inst.file("/usr/sbin/tvl4700-save-profile.sh")
        pid_file = inst.file("/var/log/busy.pid")
        with open(script, "w") as f:
            f.write('#!/bin/sh\necho $$ > "%s"\nexec sleep 600\n' % pid_file)
        os.chmod(script, 0o755)
        inst.wait_ready()
        inst.wait_probes_ready()
        scpi = open_session(inst.scpi_port())
        web = JsonClient(inst.json_port())
        busy = None
        try:
            scpi.write("*SAV 3")
            busy = int(wait_until(lambda: os.path.exists(pid_file) and open(pid_file).read().strip(), 30,
                                  what="the profile script"))
            assert web.ask("setFluxUnits", units=1)["success"] is True

            tvl = inst.tvl().proc
            tvl.send_signal(signal.SIGTERM)
            started = time.monotonic()
            assert tvl.wait(10) == 0
            assert time.monotonic() - started < 5
        finally:
            if busy:
                os.kill(busy, signal.SIGTERM)   # the script's program ends on SIGTERM
            scpi.close()
            web.close()
        for channel in ("ch1", "ch2", "ch3"):
            assert "fluxunits: 1\n" in read(inst, "/var/lib/tarvel/" + channel), channel


def test_a_stop_that_cannot_end_in_time_ends_the_process_all_the_same():
    """A profile restore reads a channel file of 1,500 settings (a 20 ms
    pause after each, the channel's file lock held throughout): the stop,
    which must write that channel's changes, waits for the lock only until
    its deadline, and the file stays whole."""
    with Instrument() as inst:
        profile = inst.file("/var/lib/tarvel/profiles/3")
        os.makedirs(profile)
        slow = "zeromode: 1\n" + "unknown: 0\n" * 1500
        with open(os.path.join(profile, "ch1"), "w") as f:
            f.write(slow)
        with open(os.path.join(profile, "bp"), "w") as f:   # a profile has its meter file
            f.write("lcdlevel: 5\n")
        inst.wait_ready()
        inst.wait_probes_ready()
        scpi = open_session(inst.scpi_port())
        web = JsonClient(inst.json_port())
        try:
            scpi.write("*RCL 3")
            # The channel's first setting is applied: its reading goes on for 30 s.
            web.poll_until(lambda r: r["zeroMode"] == 1, "pollChannel", 60, "channel 1 reading its file", channel=1)
            tvl = inst.tvl().proc
            tvl.send_signal(signal.SIGTERM)
            started = time.monotonic()
            assert tvl.wait(15) == 1
            assert time.monotonic() - started < 10
        finally:
            scpi.close()
            web.close()
        assert "the stop did not end in time" in inst.tvl().output()
        assert read(inst, "/var/lib/tarvel/ch1") == slow
