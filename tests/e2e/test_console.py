"""Console output never holds the programs up: tvl4700 whose output goes
into a pipe that nobody reads still answers, and what it printed comes out
once the pipe is read; a flood of empty JSON lines, or of alternating bad
ones, gives a few lines of output, every one of them counted; a client's
bytes reach the console escaped; mendra and frontpanel-sim end at once on a
stop signal while their output is a full pipe."""
import os
import re
import select
import signal
import subprocess
import time

import socket

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


LEFT_OUT = re.compile(r"^\((\d+) lines? from JSON client on fd \d+ left out\)$", re.M)
REPEATED = re.compile(r"^\(last line repeated (\d+) times\)$", re.M)
DROPPED = re.compile(r"^\((\d+) console lines dropped\)$", re.M)


def flood_json(inst, lines, flood, shown):
    """Sends flood on one JSON connection (lines bad lines), then a request
    whose reply shows that all were read, and closes the connection; waits
    until every bad line is printed (shown(out) counts them), folded into a
    "repeated" line, counted as left out (a count comes at the latest when
    the connection ends) or dropped by a console that could not keep up.
    Returns what tvl4700 printed meanwhile."""
    before = len(inst.tvl().output())
    with JsonClient(inst.json_port(), timeout=300) as web:
        web.send_raw(flood + b'{"action":"getModelNumber"}\n')
        assert web.read_reply() == {"model": "4730"}

    def accounted():
        out = inst.tvl().output()[before:]
        counted = sum(int(n) for pattern in (REPEATED, LEFT_OUT, DROPPED) for n in pattern.findall(out))
        return out if shown(out) + counted == lines else None
    return wait_until(accounted, 60, what="every bad line printed or counted")


def test_floods_of_bad_json_lines_give_a_few_lines_of_output():
    with Instrument() as inst:
        inst.wait_ready()
        # Identical lines: each fails to parse.
        out = flood_json(inst, 1000000, b"\n" * 1000000, lambda out: out.count("parse failed"))
        assert len(out) < 100000, "%d bytes of output for the flood" % len(out)

        # 1 MB of alternating bad lines, which the console cannot fold: a
        # few lines a second, then the count of what was left out.
        out = flood_json(inst, 1 << 19, b"1\nx\n" * (1 << 18),
                         lambda out: out.count("parse failed") + out.count("the request is not an object"))
        assert len(out) < 100000, "%d bytes of output for the flood" % len(out)
        assert LEFT_OUT.search(out), out[-2000:]
        assert inst.tvl().running()


def test_a_clients_bytes_reach_the_console_escaped():
    """A SCPI line holding a terminal's title sequence (ESC ] 0 ; title BEL)
    shows it escaped in "unrecognized SCPI cmd" and in the command log; no
    byte of it reaches the terminal raw."""
    with Instrument() as inst:
        inst.wait_ready()
        before = len(inst.tvl().output())
        with socket.create_connection(("127.0.0.1", inst.scpi_port()), timeout=20) as scpi:
            scpi.sendall(b"\x1b]0;title\x07\n*IDN?\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = scpi.recv(4096)
                assert chunk, "the instrument closed the connection"
                reply += chunk
            assert reply.startswith(b"TARVEL,")
        out = wait_until(lambda: (lambda o: o if "unrecognized SCPI cmd: title" in o else None)(
            inst.tvl().output()[before:]), 30, what="the unrecognized commands printed")
        assert "unrecognized SCPI cmd: \\x1b]0\n" in out and "unrecognized SCPI cmd: title\\x07\n" in out, out
        assert "Received: :\\x1b]0\n" in out and "Received: :TITLE\\x07\n" in out, out
        assert "\x1b" not in out and "\x07" not in out


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
