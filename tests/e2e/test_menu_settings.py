"""Settings made with the front-panel menus reach the models, are written to
the settings files (the meter's "bp", the channels' "ch1".."ch3"; the
network script's set-up) and are in force after tvl4700 is restarted: the
menus mark them again, and a file written anew by the restarted program
still holds them.  A profile saved from the menus brings them back.
"""
import re

from instrument import Instrument, wait_until
from menu_screen import BACK, MenuScreen
from menu_table import TREE, views_along

UP_CHANNEL_1 = 14

# (soft keys from "Main" to the menu, the key of the setting or None, the
# marks the menu shows afterwards)
MENU_SETTINGS = [
    ((2, 1), 2, [1]),                   # Units > Flux Density > Tesla
    ((2, 2), 3, [2]),                   # Units > Temperature > Kelvin
    ((2, 4), 2, [1]),                   # Units > Time > Period
    ((2, 3), 2, [1]),                   # Units > Angles > Radians
    ((1, 2, 6, 1), 3, [2]),             # Channel 2 > Zero > Auto > Advanced
    ((1, 3, 3), 1, [0]),                # Channel 3 > Hold > Max
    ((1, 3, 3), 5, [0, 4]),             #                  > Active
    ((1, 5, 2), 1, [0]),                # Vector Sum > Hold > Max
    ((4, 1, 1, 1, 1), 3, [2]),          # Analog Outputs > Channel 1 > Corrected > Output Mode > RMS
    ((4, 1, 1, 1, 2), 2, [1]),          #                                         > Scaling > 10 V
    ((4, 1, 2, 2, 1), 2, [1]),          # Channel 2 > Uncorrected > Output Mode > Wave Form
    ((4, 1, 2, 2, 2), 2, [1]),          #                         > Scaling > 10 V
    ((4, 1, 4, 1), 2, [1]),             # Vector Sum output > Output Mode > On
    ((4, 1, 4, 2), 2, [1]),             #                   > Scaling > 10 V
    ((3, 5, 1), 1, [0]),                # Display > Waveform > Time Base > the first
    ((3, 5, 3, 2), 2, [1]),             #                    > Trigger > Slope > Negative
    ((3, 5, 3, 1), 3, [2]),             #                              > Mode > Repeat
    ((3, 5, 2, 3), 5, [4]),             #                    > Scale > Channel 3 > the fifth
]

FILES = {
    "bp": {"angleunits": "1", "maxhold": "1", "vdacmode": "4", "vdacrange": "100", "timebase": "0",
           "triggerslope": "1", "triggermode2": "2", "gpibaddress": "7", "rs232speed": "3"},
    "ch1": {"fluxunits": "1", "tempunits": "2", "timeunits": "1", "cdacmode": "2", "cdacrange": "100"},
    "ch2": {"fluxunits": "1", "zeromode": "0", "udacmode": "1", "udacrange": "100"},
    "ch3": {"tempunits": "2", "maxhold": "1", "holdactive": "1", "waveformscale": "4"},
}


def settings(inst, name):
    try:
        with open(inst.file("/var/lib/tarvel/" + name)) as f:
            return dict(re.findall(r"^(\w+): (.*)$", f.read(), re.M))
    except FileNotFoundError:
        return {}


def network_setup(inst):
    """The network set-up that the network script keeps (the sandbox's stand-in)."""
    try:
        with open(inst.file("/etc/tvl4700-network")) as f:
            return f.readline()
    except FileNotFoundError:
        return ""


def wait_for_files(inst, expected, what):
    def written():
        return all(all(settings(inst, name).get(k) == v for k, v in values.items())
                   for name, values in expected.items())
    try:
        wait_until(written, 40.0, what=what)
    except TimeoutError:
        raise AssertionError("%s: %r" % (what, {name: settings(inst, name) for name in expected}))


def open_menu(screen, keys):
    """From "Main", down the links, each menu awaited."""
    for key, view in zip(keys, views_along(keys)):
        title, labels, _ = TREE[view]
        screen.press(key)
        screen.wait_for(title, labels, what=view)
    return view


def back_to_main(screen, depth):
    screen.press(*([BACK] * depth))
    screen.wait_for(*TREE["main"][:2], what="back to Main")


def test_menu_settings_are_saved_and_in_force_after_a_restart():
    with Instrument(frontpanel=True) as inst:
        inst.wait_ready()
        inst.wait_probes_ready()   # a probe getting ready resets its channel's range
        # The channels load their settings at each card-ready (the defaults
        # here); once they have saved them, no load is left to come.
        wait_until(lambda: all(settings(inst, "ch%d" % c) for c in (1, 2, 3)), 40.0,
                   what="the channel settings saved")
        screen = MenuScreen(inst)
        screen.wait_for(*TREE["main"][:2], what="at start")
        for keys, key, marks in MENU_SETTINGS:
            view = open_menu(screen, keys)
            screen.press(key)
            screen.wait_for(*TREE[view][:2], marks=marks, what="%s after key %d" % (view, key))
            back_to_main(screen, len(keys))

        # Classifier limits of channel 1, stepped with the channel's Up key
        # and committed with Back: the upper one twice, then the lower one
        # once (it stays below the upper one).
        limits = {}
        for entry, name, steps in ((3, "clupperthresh", 2), (2, "cllowerthresh", 1)):
            open_menu(screen, (4, 2, 1, entry))
            before = float(settings(inst, "ch1").get(name, "0"))
            screen.press(*([UP_CHANNEL_1] * steps))
            back_to_main(screen, 4)
            wait_until(lambda: float(settings(inst, "ch1").get(name, "0")) != before, 40.0,
                       what="the classifier limit %s saved" % name)
            limits[name] = settings(inst, "ch1")[name]
        # RS-232: the next speed (9600 -> 19200 baud), applied by Back.
        open_menu(screen, (6, 1, 3))
        screen.press(1)
        back_to_main(screen, 3)
        # GPIB address 7, typed with the keypad and applied by Back: from key
        # "0", "<--" to "<-" and "Press" (the address there goes), then "-->"
        # to "7" and "Press".
        open_menu(screen, (6, 1, 2))
        screen.press(*([1, 3] + [2] * 8 + [3]))
        back_to_main(screen, 3)
        # Network: manual address mode, saved ("Save and Reboot") with the
        # addresses the network has now.
        open_menu(screen, (6, 1, 1))
        screen.press(2)
        screen.wait_for(*TREE["network+manual"][:2], what="manual address mode")
        screen.press(1)
        wait_until(lambda: network_setup(inst).startswith("static "), 20.0, what="the network set up")
        back_to_main(screen, 3)

        wait_for_files(inst, FILES, "settings written")

        inst.restart_tvl()
        inst.wait_ready()
        screen = MenuScreen(inst)
        # Manual address mode at start: the address links are offered at once.
        open_menu(screen, (6, 1))
        screen.press(1)
        screen.wait_for(*TREE["network+manual"][:2], what="the network configuration after the restart")
        back_to_main(screen, 3)

        final = {keys: marks for keys, _, marks in MENU_SETTINGS}   # the last marks of each menu
        for keys, marks in final.items():
            view = open_menu(screen, keys)
            screen.wait_for(*TREE[view][:2], marks=marks, what="%s after the restart" % view)
            back_to_main(screen, len(keys))

        # Display > Numeric leaves the waveform view: the channel menus get
        # their "AC Freq Setup" back.
        open_menu(screen, (3,))
        screen.press(4)
        back_to_main(screen, 1)

        # A setting changed now makes the restarted program write its whole
        # file anew, from what it holds: the earlier settings are still there.
        for keys, key in (((2, 3), 1), ((1, 1, 6, 1), 1)):   # Angles > Degrees; Channel 1 > Auto Zero > DC Only
            open_menu(screen, keys)
            screen.press(key)
            back_to_main(screen, len(keys))
        bp = dict(FILES["bp"], angleunits="0")
        ch1 = dict(FILES["ch1"], zeromode="1", **limits)
        wait_for_files(inst, {"bp": bp, "ch1": ch1}, "settings written by the restarted program")

        # Profiles: "Save" keeps the settings as profile 1 (the page's field
        # starts at 1); after a change, "Recall" brings them back.
        open_menu(screen, (6, 5))
        screen.press(4)
        wait_until(lambda: settings(inst, "profiles/1/ch1").get("fluxunits") == "1", 20.0, what="profile 1 saved")
        back_to_main(screen, 2)
        open_menu(screen, (2, 1))
        screen.press(1)   # Gauss
        screen.wait_for(*TREE["flux"][:2], marks=[0], what="gauss")
        back_to_main(screen, 2)
        open_menu(screen, (6, 5))
        screen.press(5)
        back_to_main(screen, 2)
        open_menu(screen, (2, 1))
        screen.wait_for(*TREE["flux"][:2], marks=[1], what="tesla again from profile 1")
        back_to_main(screen, 2)
