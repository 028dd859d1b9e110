"""A zero whose card goes: mendra killed while channel 1 zeros.  The zero
ends by its time-out (130 s) at the latest, the channel is given up a few
seconds later (no reading served as live, the readout out of "ZEROING"), the
zero's *OPC? answers, and once mendra is back the channels read live values
by themselves."""
import threading
import time

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from scpiclient import open_session
from test_card_return import kill, polls, restart_and_wait_live

ZERO_TIMEOUT = 130
# The zero's time-out, the 5 s a silent card is allowed, a tick of the watch.
ZERO_BOUND = ZERO_TIMEOUT + 5 + 1


def test_a_zero_whose_card_is_killed_ends_and_the_channel_comes_back():
    with Instrument() as inst:
        inst.wait_ready()
        inst.wait_probes_ready()
        zeroing = open_session(inst.scpi_port(), timeout_ms=(ZERO_BOUND + 30) * 1000)
        answer = {}

        def zero():
            answer["opc"] = zeroing.query(":CAL1:ZERO:HSEN:INIT;*OPC?")
            answer["at"] = time.monotonic()
        with JsonClient(inst.json_port()) as web:
            started = time.monotonic()
            waiter = threading.Thread(target=zero)
            waiter.start()
            web.poll_until(lambda r: r["zeroingState"] == 1 and r.get("zeroingProgress", 0) > 0, "pollChannel", 20,
                           "the card zeroing", channel=1)
            kill(inst.procs["mendra"])

            def given_up():
                r = polls(web)
                return all(not c["valid"] and c["fluxReading"] == "No card present" and c["zeroingState"] != 1
                           for c in r)
            wait_until(given_up, ZERO_BOUND + 10, poll=0.5, what="channel 1 given up with its zero")
            assert time.monotonic() - started < ZERO_BOUND + 2
            waiter.join(10)
            assert answer.get("opc") == "1"
            assert answer["at"] - started >= ZERO_TIMEOUT - 1, "the zero ended before its time-out"
            scpi = open_session(inst.scpi_port())
            assert scpi.query(":MEAS1:FLUX?") == "NPC"
            assert scpi.query(":DIAG1:ZERO:STAT?") in ("2", "4")

            restart_and_wait_live(inst, web, scpi)
            scpi.close()
        zeroing.close()
