"""The waveform view with mendra's card simulators: traces of the three
channels in free run, one capture with the trigger marker in single mode;
Run, Stop and the time base change what the cards are asked for (their
frames on the bus, as canbus-dump shows them).

mendra's cards sit in a field of 0: their captures are flat lines and a
triggered capture never finds its trigger.  The cards here are the same
simulators in a steady field (field-cards-peer)."""
import re

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from menu_screen import BACK, MenuScreen
from menu_table import TREE
from screen import XServer

CYAN, PINK, GREEN, RED = (0, 255, 255), (255, 16, 140), (0, 239, 0), (255, 0, 0)
# The plot of the 508 x 480 view, below the three header lines and above
# the footer (the trigger-rate pair inside it is yellow), without the band
# of its centre line (y 248), where a flat trace lies.
PLOT = (4, 62, 500, 372)
# The whole plot: 10 divisions of 50 pixels across, its centre line at y 248.
PLOT_AREA = (4, 60, 500, 376)
PIXELS_PER_DIVISION = 50
ABOVE_CENTRE, BELOW_CENTRE = (4, 62, 500, 182), (4, 252, 500, 182)
# The acquisition state at the end of the footer's second row.
STATE = (320, 460, 188, 20)
# The trigger marker: a small triangle on the plot's right edge (x 504).
MARKER = (496, 50, 12, 400)
# Card command 2 (trigger mode, waveform request, stop waiting) from the
# host (node 1) to any card: identifier 1 << 8 | card << 5 | 2.
CARD_COMMAND_2 = "102:71F"
CARD_IDS = {"162": 1, "182": 2, "1A2": 3}
FRAME = re.compile(r"^\s+\S+\s+([0-9A-F]{3})\s+\[(\d)\] ?((?: [0-9A-F]{2})*)\s*$", re.M)


def frames(dump):
    """(slot, data bytes) of each frame canbus-dump printed so far."""
    return [(CARD_IDS[i], [int(b, 16) for b in data.split()]) for i, _, data in FRAME.findall(dump.output())
            if i in CARD_IDS]


def waveform_requests(dump, start=0, to=2):
    """(card mode, slope, decimation, points) of each waveform request to the
    card in slot `to` (None: any card) after the first `start` frames."""
    return [(d[1], d[2], d[3] << 8 | d[4], d[5] << 8 | d[6])
            for slot, d in frames(dump)[start:] if to in (None, slot) and len(d) == 7 and d[0] == 3]


def trigger_modes(dump, start=0):
    """(slot, mode) of each trigger-mode frame (and stop-waiting, mode 4)."""
    return [(slot, d[0]) for slot, d in frames(dump)[start:] if len(d) == 1]


def off_centre(shot, colour):
    return shot.count(colour, ABOVE_CENTRE) + shot.count(colour, BELOW_CENTRE)


def centre_crossings(shot, colour):
    """x of each crossing of the plot's centre line by the trace of colour:
    the mean height of the trace's pixels column by column (a column where
    another trace covers it is left out), its sign changes placed between
    columns by linear interpolation, and crossings closer than 20 pixels (a
    line's steps around the centre) taken as one."""
    left, top, width, height = PLOT_AREA
    centre = top + height / 2.0
    heights = []
    for x in range(left, left + width):
        ys = [y for y in range(top, top + height) if shot.at(x, y) == colour]
        if ys:
            heights.append((x, sum(ys) / len(ys) - centre))
    crossings = []
    for (xa, a), (xb, b) in zip(heights, heights[1:]):
        if a * b < 0 or (a == 0 and b != 0):
            crossings.append(xa + (xb - xa) * a / (a - b))
    merged = []
    for x in crossings:
        if merged and x - merged[-1][-1] < 20:
            merged[-1].append(x)
        else:
            merged.append([x])
    return [sum(group) / len(group) for group in merged]


def seconds_per_division(label):
    """The time of a time base's label ("24 \xb5s", "1.6 ms"), in seconds."""
    m = re.fullmatch(r"([\d.]+) (\S?)s", label)
    assert m, label
    return float(m.group(1)) * {"\xb5": 1e-6, "m": 1e-3, "": 1.0}[m.group(2)]


def hertz(text):
    """A frequency as the JSON poll gives it ("4.999 kHz", "60.0 Hz")."""
    number, unit = text.split()
    return float(number) * {"Hz": 1.0, "kHz": 1000.0}[unit]


def open_menu(screen, *path):
    """Presses the soft keys of path, each (key, view) awaited."""
    for key, view in path:
        screen.press(key)
        screen.wait_for(*TREE[view][:2], what=view)


def test_waveform_view_traces_trigger_marker_and_card_requests(tmp_path):
    with XServer() as x, Instrument(frontpanel=True, display=x.display, cards="field-cards-peer") as inst:
        inst.wait_ready()
        inst.wait_probes_ready()
        with JsonClient(inst.json_port()) as web:
            screen = MenuScreen(inst)
            screen.wait_for(*TREE["main"][:2], what="at start")
            # Channels > All Channels > Mode > AC: the view draws AC channels.
            open_menu(screen, (1, "channels"), (4, "all"), (1, "allmode"))
            screen.press(2)
            for slot in (1, 2, 3):
                web.poll_until(lambda r: r["mode"] == 1, "pollChannel", 20, channel=slot)
            screen.press(BACK, BACK, BACK)
            screen.wait_for(*TREE["main"][:2], what="back to Main")

        dump = inst.canbus_dump(CARD_COMMAND_2)
        # A frame to no node (7) that passes the filter: once the dump shows
        # it, it sees every later frame.
        wait_until(lambda: inst.canbus_send("1E2#") or " 1E2 " in dump.output(), 20, poll=0.5,
                   what="canbus-dump listening")
        open_menu(screen, (3, "display"), (5, "waveform"))
        # No capture until Run: flat lines (the empty buffers), no marker.
        blank = x.screenshot(str(tmp_path / "entered.png"))
        assert not any(off_centre(blank, c) for c in (CYAN, PINK, GREEN)) and not blank.count(RED, PLOT)
        assert not waveform_requests(dump, to=None) and not trigger_modes(dump)
        # The fourth time base, 400 us/div (500 points, decimation 5): 20
        # periods of the cards' 4999.5 Hz, three sines told apart.  (At the
        # slowest, 6.4 ms/div, 320 periods fill a band in which the largest
        # trace covers the others.)
        open_menu(screen, (1, "timebase"))
        screen.press(4)
        screen.wait_for(*TREE["timebase"][:2], marks=[3], what="the fourth time base")
        screen.press(BACK)
        screen.wait_for(*TREE["waveform"][:2], what="waveform menu")

        # Run, free run: every card is stopped (mode 0), the followers get
        # mode 2, the trigger channel (slot 2) mode 1 and a request for a
        # capture of the present time base (500 points, decimation 5).
        screen.press(4)
        wait_until(lambda: waveform_requests(dump), 20, what="a waveform request after Run")
        mode, slope, decimation, points = waveform_requests(dump)[0]
        assert (mode, slope, decimation, points) == (0, 0, 5, 500)
        modes = trigger_modes(dump)
        assert {(1, 0), (2, 0), (3, 0)} <= set(modes[:3])
        assert {(1, 2), (3, 2), (2, 1)} <= set(modes)

        def traces():
            shot = x.screenshot(str(tmp_path / "free-run.png"))
            return all(off_centre(shot, c) > 100 for c in (CYAN, PINK, GREEN)) and shot
        shot = wait_until(traces, 30, poll=0.5, what="three traces in free run")
        assert shot.count(RED, MARKER) == 0, "no trigger marker in free run"

        # Stop: every card is told to stop waiting (command 2, byte 4).
        seen = len(frames(dump))
        screen.press(5)
        wait_until(lambda: {(s, tuple(d)) for s, d in frames(dump)[seen:]} >= {(1, (4,)), (2, (4,)), (3, (4,))},
                   20, what="stop frames to the three cards")

        # Time base: the first (shortest) choice; the next Run asks the cards
        # for a capture of it: no decimation, fewer points.
        open_menu(screen, (1, "timebase"))
        screen.press(1)
        screen.wait_for(*TREE["timebase"][:2], marks=[0], what="the first time base")
        screen.press(BACK)
        screen.wait_for(*TREE["waveform"][:2], what="waveform menu")
        seen = len(frames(dump))
        screen.press(4)
        wait_until(lambda: waveform_requests(dump, seen), 20, what="a request after the time-base change")
        mode, slope, decimation, points = waveform_requests(dump, seen)[0]
        assert decimation == 1 and points in (50, 250)
        screen.press(5)
        # The third time base for the single capture: a trace of another shape.
        open_menu(screen, (1, "timebase"))
        screen.press(3)
        screen.wait_for(*TREE["timebase"][:2], marks=[2], what="the third time base")
        screen.press(BACK)
        screen.wait_for(*TREE["waveform"][:2], what="waveform menu")
        stopped = x.screenshot(str(tmp_path / "stopped.png"))

        # Single: choosing a trigger mode starts the stopped acquisition, and
        # the trigger channel is asked for one capture (card mode 2); the
        # trace stays, with the trigger marker at the level's height.  (Run
        # is not pressed: while that capture waits it would do nothing.)
        open_menu(screen, (3, "trigger"), (1, "triggermode"))
        seen = len(frames(dump))
        screen.press(4)
        screen.wait_for(*TREE["triggermode"][:2], marks=[3], what="single")
        wait_until(lambda: waveform_requests(dump, seen), 20, what="a request in single mode")
        assert waveform_requests(dump, seen)[0][0] == 2
        screen.press(BACK, BACK)
        screen.wait_for(*TREE["waveform"][:2], what="waveform menu")

        def single():
            shot = x.screenshot(str(tmp_path / "single.png"))
            return (off_centre(shot, PINK) > 100 and shot.count(RED, MARKER) > 10
                    and shot.region(PLOT) != stopped.region(PLOT))
        wait_until(single, 30, poll=0.5, what="the single capture with its trigger marker")
        # One capture, then "Stopped" again.
        wait_until(lambda: x.screenshot(str(tmp_path / "single.png")).region(STATE) == stopped.region(STATE), 20,
                   poll=0.5, what="the acquisition stopped after the single capture")
        assert inst.tvl().running()


def test_trace_period_on_the_screen_is_the_signal_period(tmp_path):
    """The cards report a signal of 4999.5 Hz: at 24 \xb5s/div (the second
    time base of the widest filter) its period of 200 \xb5s spans 8.3
    divisions, 1.2 periods across the plot, as the drawn trace must show.
    On a first start (no settings file) the scale menus mark the scale that
    the view's header shows, the sixth."""
    with XServer() as x, Instrument(frontpanel=True, display=x.display, cards="field-cards-peer") as inst:
        inst.wait_ready()
        inst.wait_probes_ready()
        with JsonClient(inst.json_port()) as web:
            for slot in (1, 2, 3):
                web.ask("setMode", channel=slot, mode=1)
            reply = web.poll_until(lambda r: r["mode"] == 1 and hertz(r.get("signalFreq", "0 Hz")) > 0,
                                   "pollChannel", 20, channel=2)
            for slot in (1, 3):
                web.poll_until(lambda r: r["mode"] == 1, "pollChannel", 20, channel=slot)
        frequency = hertz(reply["signalFreq"])
        screen = MenuScreen(inst)
        screen.wait_for(*TREE["main"][:2], what="at start")
        open_menu(screen, (3, "display"), (5, "waveform"), (2, "scale"), (2, "scale2"))
        screen.wait_for(*TREE["scale2"][:2], marks=[5], what="channel 2's scale as the model holds it")
        screen.press(BACK, BACK)
        screen.wait_for(*TREE["waveform"][:2], what="waveform menu")

        # The second time base; the filter of every channel is the widest
        # (20 Hz - 50 kHz), whose sample period makes it 24 us/div.
        open_menu(screen, (1, "timebase"))
        screen.press(2)
        screen.wait_for(*TREE["timebase"][:2], marks=[1], what="the second time base")
        per_division = seconds_per_division(screen.current().labels[1])
        assert per_division == 24e-6, screen.current().labels[1]
        screen.press(BACK)
        screen.wait_for(*TREE["waveform"][:2], what="waveform menu")
        screen.press(4)   # Run: free run, channel 2's trace in pink

        def crossings():
            shot = x.screenshot(str(tmp_path / "period.png"))
            return off_centre(shot, PINK) > 100 and len(centre_crossings(shot, PINK)) >= 2 and shot
        shot = wait_until(crossings, 30, poll=0.5, what="channel 2's trace crossing the centre twice")
        found = centre_crossings(shot, PINK)
        half_period = (found[-1] - found[0]) / (len(found) - 1) / PIXELS_PER_DIVISION * per_division
        assert abs(2 * half_period * frequency - 1) < 0.05, \
            "a period of %.1f us on the screen for %.1f Hz (crossings at %r)" % (2e6 * half_period, frequency, found)
