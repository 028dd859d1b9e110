"""The tests' sandboxes: one left behind by a test program that was killed
goes with the next test program; one whose program still runs stays."""
import os
import shutil
import signal
import subprocess
import sys

import instrument
from instrument import make_sandbox, remove_stale_sandboxes

# A test program that makes a sandbox, says where, and waits to be killed.
LEAVER = """
import sys, time
sys.path.insert(0, %r)
import instrument
print(instrument.make_sandbox(), flush=True)
time.sleep(600)
""" % os.path.dirname(os.path.abspath(instrument.__file__))


def test_a_killed_test_programs_sandbox_goes_with_the_next_one():
    own = make_sandbox()
    leaver = subprocess.Popen([sys.executable, "-c", LEAVER], stdout=subprocess.PIPE)
    try:
        left = leaver.stdout.readline().decode().strip()
        assert left.startswith("/tmp/tvl-test-") and os.path.isdir(left), left
        remove_stale_sandboxes()
        assert os.path.isdir(left), "removed while its test program runs"
        leaver.send_signal(signal.SIGKILL)   # as ctest's time-out ends a test
        leaver.wait(30)
        assert os.path.isdir(left)
        remove_stale_sandboxes()
        assert not os.path.exists(left), "left behind"
        assert os.path.isdir(own), "the sandbox of a program that runs"
    finally:
        if leaver.poll() is None:
            leaver.kill()
            leaver.wait()
        shutil.rmtree(own, ignore_errors=True)
