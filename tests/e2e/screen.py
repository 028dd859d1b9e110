"""The front panel's screen for the end-to-end tests: an X server of the
test's own, pictures of the 640x480 window taken with x11-screenshot, and
their pixels.

    with XServer() as x:            # DISPLAY for the programs: x.display
        ...
        shot = x.screenshot("/tmp/a.png")
        shot.count(CYAN, (0, 0, 508, 160))
"""
import os
import subprocess
import zlib

from instrument import BIN_DIR, end_with_test

WIDTH, HEIGHT = 640, 480


class XServer:
    """An Xvfb of its own, so that windows of tests run side by side never
    cover each other."""

    def __init__(self):
        self.proc = None
        self.display = None

    def __enter__(self):
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=end_with_test())
        number = self.proc.stdout.readline().decode().strip()
        if not number:
            self.proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(10)

    def screenshot(self, path):
        """The window's 640x480 at the top left corner of the screen."""
        subprocess.run([os.path.join(BIN_DIR, "x11-screenshot"), "-display", self.display,
                        "-region", "0,0,%d,%d" % (WIDTH, HEIGHT), path], check=True)
        return Picture(path)


class Picture:
    """An 8-bit RGB PNG, as x11-screenshot writes it."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        assert data[:8] == b"\x89PNG\r\n\x1a\n", path
        pos, idat = 8, b""
        while pos < len(data):
            length = int.from_bytes(data[pos:pos + 4], "big")
            kind = data[pos + 4:pos + 8]
            body = data[pos + 8:pos + 8 + length]
            if kind == b"IHDR":
                self.width = int.from_bytes(body[0:4], "big")
                self.height = int.from_bytes(body[4:8], "big")
                assert body[8] == 8 and body[9] == 2 and body[12] == 0, "8-bit RGB, not interlaced"
            elif kind == b"IDAT":
                idat += body
            pos += 12 + length
        raw = zlib.decompress(idat)
        stride = self.width * 3
        rows, previous = [], bytearray(stride)
        for y in range(self.height):
            start = y * (stride + 1)
            kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
            for i in range(stride):
                a = line[i - 3] if i >= 3 else 0
                b = previous[i]
                c = previous[i - 3] if i >= 3 else 0
                if kind == 1:
                    line[i] = (line[i] + a) & 255
                elif kind == 2:
                    line[i] = (line[i] + b) & 255
                elif kind == 3:
                    line[i] = (line[i] + (a + b) // 2) & 255
                elif kind == 4:
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
            rows.append(bytes(line))
            previous = line
        self.rows = rows

    def at(self, x, y):
        row = self.rows[y]
        return tuple(row[3 * x:3 * x + 3])

    def count(self, colour, rect):
        """Pixels of exactly colour inside rect (x, y, w, h)."""
        x, y, w, h = rect
        return sum(1 for j in range(y, y + h) for i in range(x, x + w) if self.at(i, j) == colour)

    def region(self, rect):
        """The pixels of rect, to compare two pictures."""
        x, y, w, h = rect
        return [self.rows[j][3 * x:3 * (x + w)] for j in range(y, y + h)]

    def colours(self, rect):
        """The set of colours inside rect."""
        x, y, w, h = rect
        return {self.at(i, j) for j in range(y, y + h) for i in range(x, x + w)}
