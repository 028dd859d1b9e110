"""Zeros back to back on channel 1, past the first zero's time-out (130 s):
each `:CAL1:ZERO:HSEN:INIT;*OPC?` takes its whole course (mendra's zero runs
about 21 s) and ends zeroed; none is cut short by the time-out of an earlier
one, and the channel stays live."""
import time

from instrument import Instrument
from jsonclient import JsonClient
from scpiclient import open_session

ZERO_TIMEOUT = 130
# mendra's zero: 42 progress reports half a second apart.
ZERO_COURSE = 20


def test_zeros_back_to_back_each_run_their_whole_course():
    with Instrument() as inst:
        inst.wait_ready()
        inst.wait_probes_ready(slots=(1,))
        scpi = open_session(inst.scpi_port(), timeout_ms=(ZERO_TIMEOUT + 30) * 1000)
        first = time.monotonic()
        courses = []
        while not courses or time.monotonic() - first < ZERO_TIMEOUT + 5:
            begun = time.monotonic()
            assert scpi.query(":CAL1:ZERO:HSEN:INIT;*OPC?") == "1"
            courses.append(time.monotonic() - begun)
            assert scpi.query(":DIAG1:ZERO:STAT?") == "0", "zero %d at %.1f s" % (len(courses), begun - first)
        assert all(c >= ZERO_COURSE for c in courses), courses
        with JsonClient(inst.json_port()) as web:
            reply = web.ask("pollChannel", channel=1)
            assert reply["valid"] and reply["probeState"] == 2, reply
        scpi.close()
