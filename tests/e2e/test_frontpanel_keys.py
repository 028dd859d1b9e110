"""Front-panel keys pressed with frontpanel-sim: soft keys open menus and
Back returns, a channel's keys change its readout, zero shows its progress
bar and then readings again; the key backlight frames (0x100) follow the
channels and the menu on the soft buttons."""
import re

import pytest

from instrument import Instrument, wait_until
from jsonclient import JsonClient
from screen import XServer

CYAN = (0, 255, 255)
PANEL = 508
READOUT_1 = (0, 0, PANEL, 160)
MODE_CORNER = (420, 20, 88, 60)         # "DC" / "AC" of channel 1
HOLD_BOX = (370, 60, 138, 100)          # channel 1's hold box
MAIN = 'Menu "Main" "Channels" "Units" "Display" "External\\nOutputs" "Data\\nLogging" "System"'
CHANNELS = 'Menu "Channels" "Channel 1" "Channel 2" "Channel 3" "All\\nChannels" "Vector\\nSum" ""'
CHANNEL_1 = 'Menu "Channel 1" "Mode" "Range" "Hold" "AC Freq\\nSetup" "Relative" "Zero"'
# Channel 1's keys.
RANGE, MODE, HOLD, RESET, RELATIVE, ZERO, DOWN, UP = range(7, 15)


@pytest.fixture(scope="module")
def inst():
    with XServer() as x:
        with Instrument(frontpanel=True, display=x.display) as instrument:
            instrument.x = x
            instrument.wait_ready()
            yield instrument


@pytest.fixture(scope="module")
def web(inst):
    inst.wait_probes_ready()
    with JsonClient(inst.json_port()) as client:
        yield client
    assert inst.tvl().running()


def backlights(inst):
    """Each key's last backlight level, as frontpanel-sim received them."""
    levels = {}
    for key, level in re.findall(r"Key backlight: .*\(key (\d+)\) level (\d+)", inst.procs["frontpanel-sim"].output()):
        levels[int(key)] = int(level)
    return levels


def wait_backlights(inst, want, what):
    wait_until(lambda: all(backlights(inst).get(k) == v for k, v in want.items()), 20, what=what)


def last_menu(inst):
    menus = [l[41:] for l in inst.tvl().output().splitlines() if l[41:].startswith("Menu ")]
    return menus[-1] if menus else None


def wait_menu(inst, line):
    wait_until(lambda: last_menu(inst) == line, 20, what=line)


def channel(web, slot=1):
    return web.ask("pollChannel", channel=slot)


def test_soft_keys_open_menus_and_back_returns(inst, web):
    wait_menu(inst, MAIN)
    wait_backlights(inst, {k: 1 for k in range(1, 7)}, "six soft keys lit on Main")
    inst.press(1)
    wait_menu(inst, CHANNELS)
    wait_backlights(inst, {5: 1, 6: 0}, "five soft keys lit on Channels")
    inst.press(1)
    wait_menu(inst, CHANNEL_1)
    wait_backlights(inst, {6: 1}, "six soft keys lit on Channel 1")
    inst.press(31)
    wait_menu(inst, CHANNELS)
    wait_backlights(inst, {6: 0}, "Channels again")
    inst.press(31)
    wait_menu(inst, MAIN)
    wait_backlights(inst, {6: 1}, "Main again")
    inst.press(31)        # Main is its own parent: it stays
    inst.press(3)         # Display: a key that is handled after the Back
    wait_until(lambda: last_menu(inst).startswith('Menu "Display"'), 20, what="Display")
    inst.press(31)
    wait_menu(inst, MAIN)


def test_channel_keys_change_the_readout_and_their_backlights(inst, web):
    x = inst.x
    before = x.screenshot(inst.file("/var/log/before.png"))
    assert channel(web)["mode"] == 0

    inst.press(MODE)
    web.poll_until(lambda r: r["mode"] == 1, "pollChannel", 20, channel=1)
    wait_until(lambda: x.screenshot(inst.file("/var/log/ac.png")).region(MODE_CORNER) != before.region(MODE_CORNER),
               20, poll=0.5, what="AC on the readout")

    inst.press(HOLD)
    web.poll_until(lambda r: r["holdActive"], "pollChannel", 20, channel=1)
    wait_backlights(inst, {HOLD: 1, RESET: 1}, "hold and reset keys lit")
    with_holds = x.screenshot(inst.file("/var/log/holds.png"))
    assert with_holds.count(CYAN, HOLD_BOX) > before.count(CYAN, HOLD_BOX) + 100, "the hold box"

    inst.press(RESET)     # holds restart: the readout keeps its hold box
    inst.press(RELATIVE)
    web.poll_until(lambda r: r["relativeMode"] != 0, "pollChannel", 20, channel=1)
    wait_backlights(inst, {RELATIVE: 1, HOLD: 1}, "relative key lit")

    inst.press(RELATIVE, HOLD, MODE)
    web.poll_until(lambda r: r["relativeMode"] == 0 and not r["holdActive"] and r["mode"] == 0,
                   "pollChannel", 20, channel=1)
    wait_backlights(inst, {RELATIVE: 0, HOLD: 0, RESET: 0, DOWN: 0, UP: 0}, "channel 1's keys dark again")


def has_progress_bar(picture):
    """A cyan line across the readout between its title and its bottom edge:
    the progress bar's outline (the frame's own lines lie outside)."""
    for y in range(40, 150):
        run = best = 0
        for xx in range(PANEL):
            run = run + 1 if picture.at(xx, y) == CYAN else 0
            best = max(best, run)
        if best > 400:
            return True
    return False


def test_zero_key_shows_progress_then_readings(inst, web):
    x = inst.x
    assert not has_progress_bar(x.screenshot(inst.file("/var/log/reading.png")))
    assert backlights(inst)[ZERO] == 2, "zero needed"
    inst.press(ZERO)
    web.poll_until(lambda r: r["zeroingState"] == 1, "pollChannel", 20, channel=1)
    wait_backlights(inst, {ZERO: 1, RANGE: 0, HOLD: 0, RELATIVE: 0}, "only the zero key lit while zeroing")
    wait_until(lambda: has_progress_bar(x.screenshot(inst.file("/var/log/zeroing.png"))), 20, poll=0.5,
               what="the progress bar")
    web.poll_until(lambda r: r["zeroingState"] == 0 and r["valid"], "pollChannel", 60, channel=1)
    wait_backlights(inst, {ZERO: 0}, "zero key dark once zeroed")
    wait_until(lambda: not has_progress_bar(x.screenshot(inst.file("/var/log/zeroed.png"))), 20, poll=0.5,
               what="readings again")
    assert backlights(inst)[20] == 2 and backlights(inst)[28] == 2, "the other channels still need a zero"
