"""The GPIB transport with its stand-in controller (gpib-sim): found when it
is plugged in after the start, set up with the "++" commands, the status
byte pushed on every change and read by a serial poll, a controller that
answers the wrong identification asked again, and one pulled out and plugged
in again set up anew."""
import re

from instrument import Instrument, wait_until
from scpiclient import open_gpib


def pushes(gpib):
    """The "++" commands the instrument sent the controller, in order."""
    return re.findall(r"^instrument: (\+\+.*)$", gpib.output(), re.M)


def test_controller_plugged_in_late_pulled_out_and_back():
    with Instrument() as inst:
        inst.wait_ready()
        # A controller that is not the one the instrument looks for: asked
        # again every second, never set up.
        wrong = inst.start_gpib(["-id", "Some Other Adapter 2.0"])
        wait_until(lambda: pushes(wrong).count("++ver") >= 2, 30, what="a second ++ver")
        assert pushes(wrong) == ["++ver"] * len(pushes(wrong))
        wrong.stop()

        gpib = inst.start_gpib()
        wait_until(lambda: "++status" in " ".join(pushes(gpib)), 30, what="the set-up")
        assert pushes(gpib)[:5] == ["++ver", "++savecfg 0", "++mode 0", "++addr 1", "++status 4"]
        inst.tvl().wait_for_output("GPIB address set to 1", 30)

        bus = open_gpib(inst.gpib_port(), address=1)
        assert bus.query("*IDN?").startswith("TARVEL,")
        # The status byte follows the error queue: every change is pushed,
        # and a serial poll reads it.
        bus.write("*CLS")
        wait_until(lambda: pushes(gpib)[-1] == "++status 0", 30, what="++status 0")
        assert bus.query("++spoll") == "0"
        bus.write(":NO:SUCH:COMMAND")
        wait_until(lambda: pushes(gpib)[-1] == "++status 4", 30, what="++status 4")
        assert bus.query("++spoll") == "4"
        assert bus.query(":SYST:ERR:NEXT?").startswith("-100,")
        wait_until(lambda: pushes(gpib)[-1] == "++status 0", 30, what="++status 0 again")
        bus.close()

        # Pulled out, then plugged in again: set up anew, with the status
        # byte of then.
        gpib.stop()
        gpib = inst.start_gpib()
        wait_until(lambda: "++status" in " ".join(pushes(gpib)), 30, what="the set-up again")
        assert pushes(gpib)[:5] == ["++ver", "++savecfg 0", "++mode 0", "++addr 1", "++status 0"]
        bus = open_gpib(inst.gpib_port(), address=1)
        assert bus.query("*IDN?").startswith("TARVEL,")
        # Nothing answers at another address.
        bus.write("++addr 2")
        bus.write("*IDN?")
        bus.write("++addr 1")
        assert bus.query(":SYST:VERS?") == "1999.0"
        bus.close()
