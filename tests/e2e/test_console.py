"""Console output never holds the programs up: tvl4700 whose output goes
into a pipe that nobody reads still answers, and what it printed comes out
once the pipe is read; a flood of empty JSON lines gives a few lines of
output, every one of them counted; mendra and frontpanel-sim end at once on
a stop signal while their output is a full pipe."""
import os
import re
import select
import signal
import subprocess
import time

import pytest

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from scpiclient import open_session


def full_pipe():
    """A pipe whose buffer is full (read end, write end, bytes in it): a
    program writing into it waits as for a reader that has stopped."""
    r, w = os.pipe()
    os.set_blocking(w, False)
    filled = 0
    try:
        while True:
            filled += os.write(w, b"#" * 4096)
    except BlockingIOError:
        pass
    os.set_blocking(w, True)
    return r, w, filled


def read_until(fd, text, timeout=60.0):
    """Reads fd until text has come; returns everything read."""
    got = b""
    end = time.monotonic() + timeout
    while text not in got:
        if time.monotonic() > end:
            raise TimeoutError("%r not read; the end of what came: %r" % (text, got[-2000:]))
        if select.select([fd], [], [], 0.2)[0]:
            got += os.read(fd, 65536)
    return got


def test_tvl4700_answers_while_nobody_reads_its_output():
    with Instrument(tvl=False) as inst:
        for attempt in range(3):
            r, w, filled = full_pipe()
            tvl = inst.start_program("tvl4700", ["-can", inst.bus, "-skipBootload"], output=w)
            os.close(w)
            # The port is announced by the start-up step, which logs before it.
            wait_until(lambda: os.path.exists(inst.file("/run/ports/scpi")) or not tvl.running(), 60,
                       what="the SCPI port announced")
            if tvl.running():
                break
            # A busy X server refused the window (the message is in the pipe): once more.
            tvl.stop()
            os.close(r)
        else:
            pytest.fail("tvl4700 ended at its start three times")
        try:
            scpi = open_session(inst.scpi_port(), timeout_ms=5000)
            assert scpi.query("*IDN?").startswith("TARVEL,")
            assert scpi.query(":SYST:VERS?") == "1999.0"
            scpi.close()
            # Read again, the pipe gives what was printed meanwhile, from the
            # program's first line on, and what comes after.
            out = read_until(r, b"Meter Initialization Complete")[filled:].decode("latin-1")
            assert out.startswith("argv[1] = -can\n"), out[:500]
            assert "Received: :*IDN?" in out and "Received: :SYST:VERS?" in out
            assert "console lines dropped" not in out
            assert tvl.running()
        finally:
            tvl.stop()
            os.close(r)


def test_a_flood_of_empty_json_lines_gives_a_few_lines_of_output():
    lines = 1000000
    with Instrument() as inst:
        inst.wait_ready()
        before = len(inst.tvl().output())
        with JsonClient(inst.json_port(), timeout=300) as web:
            web.send_raw(b"\n" * lines + b'{"action":"getModelNumber"}\n')
            assert web.read_reply() == {"model": "4730"}

        # Each empty line failed to parse: each is printed or counted in a
        # "repeated" line (which comes a second after its run began at the
        # latest).
        def accounted():
            out = inst.tvl().output()[before:]
            shown = out.count("parse failed")
            counted = sum(int(n) for n in re.findall(r"^\(last line repeated (\d+) times\)$", out, re.M))
            return out if shown + counted == lines else None
        out = wait_until(accounted, 30, what="every empty line printed or counted")
        assert len(out) < 100000, "%d bytes of output for the flood" % len(out)
        assert inst.tvl().running()


@pytest.mark.parametrize("stop", [signal.SIGTERM, signal.SIGINT], ids=["SIGTERM", "SIGINT"])
@pytest.mark.parametrize("program", ["mendra", "frontpanel-sim"])
def test_a_stop_signal_ends_the_program_while_its_output_is_a_full_pipe(program, stop):
    with Instrument(mendra=False, tvl=False) as inst:
        r, w, _ = full_pipe()
        try:
            proc = inst.start_program(program, ["-can", inst.bus], output=w)
            # The program's reader threads print as they answer, into the full
            # pipe, and keep answering.
            if program == "mendra":
                request, reply, printing = "16A#", " 32A ", "166#00"   # hello to card 1; its EEPROM save prints
            else:
                request, reply, printing = "109#", " 029 ", "109#"     # the front panel's version, printed
            dump = inst.canbus_dump(reply.strip() + ":7FF")
            wait_until(lambda: inst.canbus_send(request) or reply in dump.output(), 60, poll=0.5,
                       what="%s answering" % program)
            for _ in range(20):
                inst.canbus_send(printing)
            answers = dump.output().count(reply)
            wait_until(lambda: inst.canbus_send(request) or dump.output().count(reply) > answers + 1, 60, poll=0.5,
                       what="%s answering after printing" % program)

            proc.proc.send_signal(stop)
            try:
                status = proc.proc.wait(10)
            except subprocess.TimeoutExpired:
                pytest.fail("%s still runs 10 s after the stop signal" % program)
            assert status == 0
        finally:
            os.close(w)
            os.close(r)
