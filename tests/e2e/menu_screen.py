"""What the soft buttons of a running tvl4700 show, read from its console.

Each time the buttons come to show something new, tvl4700 logs one line:

    <time>  MainWindow          Menu "Channel 2\\nMode" "DC"* "AC" "" "" "" ""

the footer's title and the six button labels, quoted, a line break written
\\n, a marked button followed by *.  MenuScreen presses keys through
frontpanel-sim and waits for the line it expects.
"""
import re

from instrument import wait_until

LINE = re.compile(r"MainWindow\s+Menu (.*)$")
TOKEN = re.compile(r'"((?:[^"\\]|\\.)*)"(\*?)')
BACK = 31
ENTER = 32
# The engineering password, typed with the keypad ("-->" 2, "<--" 1, "Press" 3)
# from key "0", where the keypad starts.
PASSWORD = "58214"


def unquote(text):
    return re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), text)


class Shown:
    """One menu as the buttons show it."""

    def __init__(self, title, labels, marks):
        self.title = title
        self.labels = labels
        self.marks = marks

    def __repr__(self):
        return "%r %r marks %r" % (self.title, self.labels, self.marks)


def parse(line):
    m = LINE.search(line)
    if not m:
        return None
    tokens = [(unquote(t), star == "*") for t, star in TOKEN.findall(m.group(1))]
    if not tokens:
        return None
    return Shown(tokens[0][0], [t for t, _ in tokens[1:]], [i for i, (_, s) in enumerate(tokens[1:]) if s])


def label_matches(expected, shown):
    if hasattr(expected, "fullmatch"):
        return expected.fullmatch(shown) is not None
    return expected == shown


def matches(shown, title, labels, marks=None):
    """labels: the expected labels from the top (the rest of the six blank);
    each a text or a compiled pattern.  marks: the marked buttons (indexes
    from 0), when they matter."""
    if shown is None or shown.title != title:
        return False
    if marks is not None and shown.marks != list(marks):
        return False
    want = list(labels) + [""] * (6 - len(labels))
    return len(shown.labels) == 6 and all(label_matches(w, s) for w, s in zip(want, shown.labels))


class MenuScreen:
    def __init__(self, inst):
        self.inst = inst
        self.path = inst.tvl().log_path
        self.offset = 0
        self.pending = b""
        self.last = None

    def current(self):
        """The menu the buttons show now (as far as the log has told)."""
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        self.offset += len(data)
        lines = (self.pending + data).split(b"\n")
        self.pending = lines.pop()
        for raw in lines:
            shown = parse(raw.decode("latin-1"))
            if shown:
                self.last = shown
        return self.last

    def wait_for(self, title, labels, marks=None, timeout=20.0, what=""):
        try:
            wait_until(lambda: matches(self.current(), title, labels, marks), timeout, poll=0.02,
                       what="menu %r %r %s" % (title, labels, what))
        except TimeoutError:
            raise AssertionError("%s: expected %r %r marks %r, the buttons show %r"
                                 % (what or "menu", title, list(labels), marks, self.current()))
        return self.last

    def press(self, *keys):
        self.inst.press(*keys)


def type_on_keypad(screen, digits):
    selected = 0
    for d in map(int, digits):
        step = 2 if d > selected else 1
        for _ in range(abs(d - selected)):
            screen.press(step)
        screen.press(3)
        selected = d
