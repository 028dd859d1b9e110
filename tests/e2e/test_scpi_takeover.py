"""A second SCPI client takes the TCP port over from the first: the first
one's socket is closed, the second is served, and the first one's going
never disturbs it."""
import re

import pytest
import pyvisa

from instrument import Instrument, wait_until
from scpiclient import open_session


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
