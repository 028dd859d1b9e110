"""tools/run-demo.sh with a time limit and no X display: once it has ended,
build/screen.png shows the instrument, not the empty screen that its
programs leave when they stop.

The script runs in a copy of the tree whose install and build steps do
nothing and whose build/bin runs the programs of this build in a sandbox of
the test's own.  Its gpib-sim is a stand-in that takes 2.5 s to stop, more
than the picture loop needs for a picture: a loop still running while the
programs stop would leave a black picture."""
import os
import shutil
import signal
import stat
import subprocess
import tempfile
import zlib

import pytest

from instrument import BIN_DIR, SOURCE_DIR, make_sandbox


def write_script(path, text):
    with open(path, "w") as f:
        f.write("#!/bin/bash\n" + text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)


def demo_tree(root, sandbox):
    """The copy of the tree that the script runs in."""
    os.makedirs(os.path.join(root, "tools"))
    for script in ("run-demo.sh", "build-config.sh"):
        shutil.copy(os.path.join(SOURCE_DIR, "tools", script), os.path.join(root, "tools"))
    write_script(os.path.join(root, "tools", "install-deps.sh"), "exit 0\n")
    stubs = os.path.join(root, "stubs")
    os.makedirs(stubs)
    write_script(os.path.join(stubs, "cmake"), "exit 0\n")
    build_bin = os.path.join(root, "build", "bin")
    os.makedirs(build_bin)
    os.symlink(sandbox, os.path.join(root, "build", "sandbox"))
    for program in ("mendra", "tvl4700", "frontpanel-sim", "serial-link"):
        write_script(os.path.join(build_bin, program),
                     'exec "%s" -sandbox "%s" "$@"\n' % (os.path.join(BIN_DIR, program), sandbox))
    os.symlink(os.path.join(BIN_DIR, "x11-screenshot"), os.path.join(build_bin, "x11-screenshot"))
    ports = os.path.join(sandbox, "run", "ports")
    write_script(os.path.join(build_bin, "gpib-sim"),
                 'mkdir -p "%s" && echo 1 > "%s/gpib"\n'
                 "trap 'sleep 2.5; exit 0' TERM\n"
                 "while :; do sleep 0.1; done\n" % (ports, ports))
    return stubs


def png_is_all_black(path):
    """Whether every pixel of an 8-bit RGB PNG without interlace is black."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, width, idat = 8, 0, b""
    while pos < len(data):
        length = int.from_bytes(data[pos:pos + 4], "big")
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width = int.from_bytes(body[:4], "big")
            assert body[8:10] == b"\x08\x02" and body[12] == 0, "8-bit RGB, no interlace"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    rows = zlib.decompress(idat)
    stride = 1 + 3 * width
    # Filtered rows are all zero exactly when the picture is: skip each
    # row's filter byte.
    return not any(any(rows[r + 1:r + stride]) for r in range(0, len(rows), stride))


def test_the_last_picture_shows_the_instrument():
    if not shutil.which("Xvfb"):
        pytest.skip("no Xvfb")
    root = tempfile.mkdtemp(prefix="tvl-test-demo-")
    sandbox = make_sandbox()
    try:
        stubs = demo_tree(root, sandbox)
        env = dict(os.environ, PATH=stubs + os.pathsep + os.environ.get("PATH", ""))
        env.pop("DISPLAY", None)
        script = subprocess.Popen([os.path.join(root, "tools", "run-demo.sh"), "5"], env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        try:
            out, _ = script.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            script.send_signal(signal.SIGTERM)   # the script stops what it started
            out, _ = script.communicate(timeout=60)
            pytest.fail("run-demo.sh did not end:\n" + out.decode("latin-1"))
        text = out.decode("latin-1")
        assert script.returncode == 0, text
        picture = os.path.join(root, "build", "screen.png")
        assert os.path.exists(picture), text
        with open(os.path.join(root, "build", "demo", "tvl4700.log"), "rb") as f:
            log = f.read().decode("latin-1")
        assert not png_is_all_black(picture), "a black picture\n" + text + "\ntvl4700:\n" + log[-3000:]
    finally:
        shutil.rmtree(root, ignore_errors=True)
        shutil.rmtree(sandbox, ignore_errors=True)
