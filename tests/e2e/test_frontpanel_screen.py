"""The front panel at start-up, under an X server of the test's own: the
argument echo and start-up log of tvl4700, the three-channel screen with
mendra's three cards, and the single-channel screen with only card 2
answering (single-card-peer)."""
import os
import time

import pytest

from instrument import Instrument, wait_until
from screen import XServer, WIDTH, HEIGHT

CYAN, PINK, GREEN = (0, 255, 255), (255, 16, 140), (0, 239, 0)
BLUE, WHITE = (0, 0, 255), (255, 255, 255)
PANEL = 508                                   # readouts' width, x of the soft buttons
BUTTON_TOPS = (0, 62, 124, 188, 250, 312)     # 60 high; the footer at 374, 107 high
READING = (0, 60, PANEL, 70)                  # the big reading of a 160-high readout, relative


@pytest.fixture(scope="module")
def xserver():
    with XServer() as x:
        yield x


def check_soft_button_column(shot):
    for top in BUTTON_TOPS:
        assert shot.count(WHITE, (PANEL, top, 132, 60)) > 150, "outline and label of the button at %d" % top
    assert shot.count(BLUE, (PANEL, 374, 132, HEIGHT - 374)) > 80 * 80, "the footer"
    assert shot.count(BLUE, (0, 0, PANEL, HEIGHT)) == 0


def shifted(rect, dy):
    x, y, w, h = rect
    return (x, y + dy, w, h)


def test_three_channel_screen(xserver, tmp_path):
    with Instrument(frontpanel=True, display=xserver.display) as inst:
        inst.wait_ready()
        lines = inst.tvl().output().splitlines()
        assert lines[:3] == ["argv[1] = -can", "argv[3] = -skipBootload", "Skipping Delfino Bootload"]
        log = [l[41:] for l in lines if l[21:41].strip() == "MainWindow"]
        steps = ["Meter starting up", "Skipping Delfino bootload", "Meter Initialization Complete"]
        assert [l for l in log if l in steps] == steps
        assert lines[-1].endswith("MainWindow          Meter Initialization Complete")
        inst.wait_probes_ready((1, 2, 3))

        first = xserver.screenshot(str(tmp_path / "three-1.png"))
        for top, colour in ((0, CYAN), (160, PINK), (320, GREEN)):
            band = (0, top, PANEL, 160)
            assert first.count(colour, band) > 3000, "readout at %d in its channel's colour" % top
            others = {CYAN, PINK, GREEN} - {colour}
            assert not any(first.count(c, band) for c in others), "readout at %d holds only its colour" % top
        check_soft_button_column(first)

        # Live readings: the big numbers change from picture to picture.
        def changed():
            later = xserver.screenshot(str(tmp_path / "three-2.png"))
            return all(later.region(shifted(READING, top)) != first.region(shifted(READING, top))
                       for top in (0, 160, 320))
        wait_until(changed, 20, poll=0.5, what="the three readings to change")
        assert inst.tvl().running()


def test_single_channel_screen_with_only_card_2(xserver, tmp_path):
    with Instrument(frontpanel=True, display=xserver.display, cards="single-card-peer") as inst:
        inst.wait_ready()
        out = inst.tvl().output()
        assert 'Menu "Main" "Channel\\nSettings" "Units" "Display"' in out
        inst.wait_probes_ready((2,))
        shot = xserver.screenshot(str(tmp_path / "single.png"))
        # One full-height readout in channel 2's colour.
        for top in (0, 160, 320):
            assert shot.count(PINK, (0, top, PANEL, 160)) > 1000, "pink in the band at %d" % top
        assert shot.count(CYAN, (0, 0, PANEL, HEIGHT)) == 0
        assert shot.count(GREEN, (0, 0, PANEL, HEIGHT)) == 0
        check_soft_button_column(shot)
