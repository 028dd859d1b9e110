"""A second SCPI client takes the TCP port over from the first: the first
one's socket is closed, the second is served, and the first one's going
never disturbs it, nor does anything the first asked for and had not had
yet."""
import re

import pytest
import pyvisa

from instrument import Instrument, wait_until
from scpiclient import open_session, poll, probes_ready


def test_second_client_takes_over():
    with Instrument(mendra=False) as inst:
        port = inst.scpi_port()
        first = open_session(port, timeout_ms=5000)
        first.write("*ESE 17")
        assert first.query("*ESE?") == "17"
        second = open_session(port)
        assert second.query("*ESE?") == "17"
        # The accept thread logs a client after handing it to its reader,
        # which may already have answered.
        client_line = r"Client at 127\.0\.0\.1 connected on fd (\d+)"
        wait_until(lambda: len(re.findall(client_line, inst.tvl().output())) == 2,
                   what="the second client's log line")
        out = inst.tvl().output()
        closing = re.search(r"Closing connection on fd (\d+) due to new connection", out)
        assert closing, out[-2000:]
        clients = re.findall(client_line, out)
        assert len(clients) == 2 and clients[0] == closing.group(1)
        with pytest.raises((pyvisa.VisaIOError, ConnectionError, OSError)):
            first.query("*ESE?")
        first.close()
        second.write("*ESE 5")
        assert second.query("*ESE?") == "5"
        second.close()
        wait_until(lambda: "Terminating Client Connection on fd" in inst.tvl().output())
        third = open_session(port)
        assert third.query("*ESE?") == "5"
        third.close()
        assert inst.tvl().running()


def test_what_the_first_client_waits_for_never_reaches_the_second():
    """The first client leaves an *OPC? pending (a zero runs) and a stream of
    channel 2's readings running; the second takes over: its first query gets
    its own reply, and neither the stream nor the "1" at the zero's end ever
    reaches it."""
    idn = re.compile(r"^TARVEL, 4730 VAZID UVEDURIDER, ")
    with Instrument() as inst:
        inst.wait_ready()
        port = inst.scpi_port()
        first = open_session(port)
        probes_ready(first)
        first.write(":CAL1:ZERO:HSEN:MODE 0")
        first.write(":CAL1:ZERO:HSEN:INIT;*OPC?")
        assert int(first.query(":STAT:OPER:COND?")) & 512, "the zero runs: the *OPC? waits"
        first.write(":MEAS2:FLUX:STR? 120")
        float(first.read())   # the stream runs
        second = open_session(port)
        assert idn.match(second.query("*IDN?"))
        # Each reply while the zero runs and ends is the one asked for (a
        # streamed reading is no integer; a late "1" would pass for the
        # condition, and the next *IDN? would get the condition instead).
        poll(second, ":STAT:OPER:COND?", lambda r: int(r) & 512 == 0, timeout=90, what="the end of the zero")
        assert idn.match(second.query("*IDN?"))
        second.timeout = 2500
        with pytest.raises(pyvisa.VisaIOError):
            print("came unasked:", second.read())
        second.close()
        first.close()
        assert inst.tvl().running()
