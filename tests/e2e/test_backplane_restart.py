"""A backplane that restarts between two of the instrument's status requests
(mendra killed and started again at once): the instrument notices it from
the status the backplane reports unasked when it starts, and sends again at
once what the backplane and the front panel lost: the backlight levels, the
key backlights and the analog and classifier outputs."""
import signal
import time

from instrument import Instrument, wait_until

PING_ID = 0x7F0
STATUS_REQUEST, STATUS_ANSWER = 0x140, 0x220   # the answer ends with the temperature
LCD_LEVEL, BUTTON_LEVEL, KEY_LIGHT, OUTPUT, CLASSIFIER = 0x103, 0x101, 0x100, 0x145, 0x149
RESENT = (LCD_LEVEL, BUTTON_LEVEL, KEY_LIGHT, OUTPUT, CLASSIFIER)


def counts(dump):
    """How many frames of each identifier canbus-dump has printed."""
    seen = {}
    for line in dump.output().split("\n")[:-1]:
        parts = line.split()
        if len(parts) >= 3 and parts[2].startswith("["):
            ident = int(parts[1], 16)
            seen[ident] = seen.get(ident, 0) + 1
    return seen


def test_a_backplane_restarted_within_three_seconds_gets_its_settings_again_within_a_few():
    with Instrument() as inst:
        dump = inst.canbus_dump(",".join("%03X:7FF" % i for i in RESENT + (PING_ID, STATUS_REQUEST, STATUS_ANSWER)))
        wait_until(lambda: inst.canbus_send("%03X#" % PING_ID) or " %03X " % PING_ID in dump.output(), 20,
                   poll=0.5, what="canbus-dump listening")
        inst.wait_ready()
        # The start-up step has sent the levels and the outputs once.
        wait_until(lambda: all(counts(dump).get(i, 0) > 0 for i in (LCD_LEVEL, BUTTON_LEVEL, OUTPUT)), 20,
                   what="the levels and outputs sent at start")
        time.sleep(1)   # whatever start-up sends after them has gone out
        # The restart comes right after a status request was answered, so
        # that no request falls into the outage: the new backplane's first
        # report would be taken for the answer to a request lost there.
        seen = counts(dump)
        asked, answered = seen.get(STATUS_REQUEST, 0), seen.get(STATUS_ANSWER, 0)
        wait_until(lambda: counts(dump).get(STATUS_REQUEST, 0) > asked, 30, poll=0.05, what="a status request")
        wait_until(lambda: counts(dump).get(STATUS_ANSWER, 0) > answered, 5, poll=0.05, what="its answer")
        before = counts(dump)

        mendra = inst.procs["mendra"]
        mendra.proc.send_signal(signal.SIGKILL)
        mendra.proc.wait()
        mendra.stop()
        inst.start_program("mendra", ["-can", inst.bus]).wait_for_output("Using CAN ", 30)

        # Long before the next status request (20 s after the last).
        def resent():
            now = counts(dump)
            return all(now.get(i, 0) > before.get(i, 0) for i in (LCD_LEVEL, BUTTON_LEVEL, OUTPUT))
        wait_until(resent, 5, poll=0.1, what="levels and outputs sent again")
        assert "Backplane restarted" in inst.tvl().output()
        # The key backlights and the classifier lines go out with them.
        wait_until(lambda: all(counts(dump).get(i, 0) > before.get(i, 0) for i in (KEY_LIGHT, CLASSIFIER)), 5,
                   poll=0.1, what="key backlights and classifier lines sent again")
