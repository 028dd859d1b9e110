"""The whole soft-button menu tree, walked with front-panel keys.

Every menu is reached from "Main" through every link that leads to it; its
title and six labels are checked against menu_table.py, and Back returns
to the menu it was entered from.  The run-time entries come in as their
events arrive: the power-on options when the front panel reports the mode,
the engineering menus after the hidden key sequence and the password, the
network address pages in manual address mode.
"""
from instrument import Instrument
from menu_screen import BACK, ENTER, PASSWORD, MenuScreen, type_on_keypad
from menu_table import TREE


class Walk:
    def __init__(self, screen):
        self.screen = screen
        self.walked = set()
        self.reached = set()

    def expect(self, view, what):
        self.reached.add(view)
        title, labels, _ = TREE[view]
        return self.screen.wait_for(title, labels, what=what)

    def walk(self, view, trail):
        """Enters every link of the menu now shown, checks what it opens and
        that Back returns here; walks each menu's own links once."""
        self.walked.add(view)
        for key, child in sorted(TREE[view][2].items()):
            where = " > ".join(trail + [child])
            self.screen.press(key)
            self.expect(child, where)
            if child not in self.walked:
                self.walk(child, trail + [child])
            self.screen.press(BACK)
            self.expect(view, "back from " + where)


def test_every_menu_is_reached_from_main_and_back_returns_to_its_parent():
    with Instrument(frontpanel=True) as inst:
        inst.wait_ready()
        # A probe getting ready during the walk would take the walk out of
        # its channel's relative entry.
        inst.wait_probes_ready()
        screen = MenuScreen(inst)
        walk = Walk(screen)
        walk.expect("main", "at start")
        screen.press(BACK)   # Back on "Main" shows "Main" again
        walk.expect("main", "back on Main")
        walk.walk("main", ["main"])

        # "Change Addr Mode" brings the four address pages and takes them away.
        screen.press(6, 1, 1)
        walk.expect("network", "network configuration")
        screen.press(2)
        walk.expect("network+manual", "manual address mode")
        walk.walk("network+manual", ["main", "system", "comm", "network"])
        screen.press(2)
        walk.expect("network", "DHCP again")
        screen.press(BACK, BACK, BACK)
        walk.expect("main", "back to Main")

        # The front panel reports its power-on mode: "Power On Options"
        # joins the second "System" page.
        screen.press("p1")
        screen.press(6, 6)
        walk.expect("more+poweron", "power-on mode reported")
        walk.walk("more+poweron", ["main", "system", "more"])
        screen.press(BACK, BACK)
        walk.expect("main", "back to Main")

        # The hidden key sequence adds "Engineering"; the password opens
        # "Engineer", whose parent is "Main".
        screen.press(ENTER, BACK, BACK, 13, 14, 13, 6, 6)
        walk.expect("more+engineering", "hidden sequence entered")
        screen.press(3)
        walk.expect("password", "Engineering")
        type_on_keypad(screen, PASSWORD)
        screen.press(ENTER)
        walk.expect("engineer", "password accepted")
        walk.walk("engineer", ["engineer"])
        screen.press(BACK)
        walk.expect("main", "back from Engineer")

        assert sorted(set(TREE) - walk.reached) == []
