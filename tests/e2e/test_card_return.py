"""Cards that go away and come back.  mendra killed mid-stream, then started
again: within seconds every channel says it has no card (the JSON poll's
reading text and "valid", the SCPI no-probe reply, the key backlights dark),
and so does the vector sum;
once the simulator's probes are ready again the channels read live values
without any help.  The same with a waveform run waiting for its captures:
no channel keeps serving its last reading.  The channel processors loaded
again from the engineering menu (skipped on a virtual bus: the simulator goes
on as it was): the cards are synced again with the channels' settings and
read live values."""
import re
import signal
import time

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from menu_screen import BACK, ENTER, PASSWORD, MenuScreen, type_on_keypad
from menu_table import TREE
from scpiclient import open_session
from test_waveform_view import CARD_COMMAND_2, frames, waveform_requests

SLOTS = (1, 2, 3)
PING_ID = 0x7F0
NUMBER = re.compile(r"^[-+]?\d+\.\d+$")
# A silent card is given up after 5 s; a capture asked for allows its record
# time on top (1.28 s at most), and the watch looks once a second.
CAPTURE_BOUND = 5 + 1.28 + 1


def channel_keys(slot):
    """The eight keys of a channel: range, mode, hold, reset holds, relative,
    zero, down, up."""
    return range(8 * slot - 1, 8 * slot + 7)


def zero_key(slot):
    return 8 * slot - 1 + 5


def backlights(dump):
    """The last level each key's backlight frame (0x100 [key, level]) carried."""
    levels = {}
    for line in dump.output().split("\n")[:-1]:
        parts = line.split()
        if len(parts) >= 5 and parts[2].startswith("[") and int(parts[1], 16) == 0x100:
            levels[int(parts[3], 16)] = int(parts[4], 16)
    return levels


def polls(web):
    return [web.ask("pollChannel", channel=slot) for slot in SLOTS]


def wait_live(web, timeout=20):
    """Waits until every channel has shown three different readings."""
    seen = {slot: set() for slot in SLOTS}

    def live():
        for slot, reply in zip(SLOTS, polls(web)):
            if reply["valid"]:
                seen[slot].add(reply["fluxReading"])
        return all(len(readings) >= 3 for readings in seen.values())
    wait_until(live, timeout, poll=0.3, what="live readings on every channel")


def kill(process):
    """Ends a program at once, as a crash or a pulled plug would."""
    process.proc.send_signal(signal.SIGKILL)
    process.proc.wait()
    process.stop()


def restart_and_wait_live(inst, web, scpi):
    """Starts mendra again and waits until every channel measures again (the
    simulator's probes are ready 10 s after its start)."""
    inst.start_program("mendra", ["-can", inst.bus]).wait_for_output("Using CAN ", 30)
    wait_until(lambda: all(r["valid"] for r in polls(web)), 60, poll=0.2, what="readings again")
    wait_live(web)
    for slot in SLOTS:
        assert NUMBER.match(scpi.query(":MEAS%d:FLUX?" % slot))


def test_cards_killed_mid_stream_go_to_no_card_and_come_back_by_themselves():
    with Instrument() as inst:
        dump = inst.canbus_dump("100:7FF,%03X:7FF" % PING_ID)
        wait_until(lambda: inst.canbus_send("%03X#" % PING_ID) or " %03X " % PING_ID in dump.output(), 20,
                   poll=0.5, what="canbus-dump listening")
        inst.wait_ready()
        inst.wait_probes_ready()
        scpi = open_session(inst.scpi_port())
        with JsonClient(inst.json_port()) as web:
            for slot in SLOTS:
                assert NUMBER.match(scpi.query(":MEAS%d:FLUX?" % slot))
            wait_until(lambda: all(backlights(dump).get(zero_key(s)) == 2 for s in SLOTS), 20,
                       what="the zero keys asking for a zero")

            kill(inst.procs["mendra"])
            wait_until(lambda: all(not r["valid"] and r["fluxReading"] == "No card present" for r in polls(web)),
                       20, poll=0.2, what="every channel without a card")
            for slot in SLOTS:
                assert scpi.query(":MEAS%d:FLUX?" % slot) == "NPC"
            # The vector sum follows its channels.
            assert scpi.query(":CALC:VSUM?") == "NPC"
            meter = web.ask("pollMeter", vsum=True)
            assert meter["vsumValue"] == "No card present" and meter["xAngle"] == "", meter
            wait_until(lambda: all(backlights(dump).get(k, 0) == 0 for s in SLOTS for k in channel_keys(s)), 10,
                       what="every channel key dark")

            restart_and_wait_live(inst, web, scpi)
            assert scpi.query(":CALC:VSUM?").count(",") == 3
            wait_until(lambda: all(backlights(dump).get(zero_key(s)) == 2 for s in SLOTS), 20,
                       what="the zero keys lit again")
        scpi.close()


def test_cards_killed_during_a_waveform_run_go_to_no_card_within_the_capture_bound():
    with Instrument(frontpanel=True) as inst:
        dump = inst.canbus_dump(CARD_COMMAND_2)
        # A frame to no node (7) that passes the filter: once the dump shows
        # it, it sees every later frame.
        wait_until(lambda: inst.canbus_send("1E2#") or " 1E2 " in dump.output(), 20, poll=0.5,
                   what="canbus-dump listening")
        inst.wait_ready()
        inst.wait_probes_ready()
        screen = MenuScreen(inst)
        screen.wait_for(*TREE["main"][:2], what="at start")
        for key, menu in ((3, "display"), (5, "waveform")):
            screen.press(key)
            screen.wait_for(*TREE[menu][:2], what=menu)
        screen.press(4)   # Run: free run, captures asked again and again
        wait_until(lambda: len(waveform_requests(dump, to=None)) >= 3, 10, what="captures asked for")
        # Single: the trigger channel is asked for one capture, which mendra's
        # cards (in a field of 0) wait for for good.
        for key, menu in ((3, "trigger"), (1, "triggermode")):
            screen.press(key)
            screen.wait_for(*TREE[menu][:2], what=menu)
        seen = len(frames(dump))
        screen.press(4)
        screen.wait_for(*TREE["triggermode"][:2], marks=[3], what="single")
        wait_until(lambda: [r for r in waveform_requests(dump, seen, to=None) if r[0] == 2], 10,
                   what="a single capture asked for")
        scpi = open_session(inst.scpi_port())
        with JsonClient(inst.json_port()) as web:
            wait_until(lambda: all(r["valid"] for r in polls(web)), 10, what="valid readings while capturing")

            kill(inst.procs["mendra"])
            killed = time.monotonic()
            wait_until(lambda: all(not r["valid"] and r["fluxReading"] == "No card present" for r in polls(web)),
                       30, poll=0.2, what="every channel without a card")
            assert time.monotonic() - killed < CAPTURE_BOUND + 2
            for slot in SLOTS:
                assert scpi.query(":MEAS%d:FLUX?" % slot) == "NPC"

            restart_and_wait_live(inst, web, scpi)
        scpi.close()


def test_channel_processors_loaded_again_sync_the_cards_with_their_settings():
    with Instrument(frontpanel=True) as inst:
        inst.wait_ready()
        inst.wait_probes_ready()
        screen = MenuScreen(inst)
        screen.wait_for(*TREE["main"][:2], what="at start")
        # The hidden key sequence, the password, Engineer > Testing.
        screen.press(ENTER, BACK, BACK, 13, 14, 13, 6, 6)
        screen.wait_for("System", ["Display\nErrors", "Engineering"], what="hidden sequence entered")
        screen.press(2)
        screen.wait_for(*TREE["password"][:2], what="Engineering")
        type_on_keypad(screen, PASSWORD)
        screen.press(ENTER)
        screen.wait_for(*TREE["engineer"][:2], what="password accepted")
        screen.press(2)
        screen.wait_for(*TREE["testing"][:2], what="Testing")
        with JsonClient(inst.json_port()) as web:
            wait_live(web)
            # The user's settings: channel 2 in AC, channel 3 on fixed range 3.
            assert web.ask("setMode", channel=2, mode=1) == {"success": True}
            assert web.ask("setRange", channel=3, range=3) == {"success": True}

            def users_settings():
                r = polls(web)
                return (r[0]["autorange"] and r[0]["mode"] == 0 and r[1]["autorange"] and r[1]["mode"] == 1
                        and not r[2]["autorange"] and r[2]["range"] == 3 and r[2]["mode"] == 0)
            wait_until(users_settings, 10, what="the user's settings")
            screen.press(2)   # Initialize Chnl Procs
            inst.tvl().wait_for_output("Channel 3 CAN shuts off", 20)
            wait_until(lambda: inst.tvl().output().count("Channel 3 CAN running") == 2, 20,
                       what="the links up again")
            wait_live(web, 30)
            # The load's own commands (DC, fixed range 1) give way to the
            # channels' settings: each keeps its mode and range.
            assert users_settings(), polls(web)
