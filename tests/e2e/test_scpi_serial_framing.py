"""The RS-232 port follows the RS-232 settings every time they change, here
through a profile restore that takes the parity from odd back to none: a
client with the new framing is served at once through serial-link (the
cable, which passes bytes intact only while both ends frame them alike)."""
import os

import pyvisa

from instrument import Instrument
from scpiclient import open_serial, open_session

LINE = {"rs232speed": 4, "rs232stopbits": 1}   # 38400 baud, 2 stop bits


def test_a_restored_profile_gives_the_port_its_parity():
    with Instrument(mendra=False, serial=True, settings=dict(LINE, rs232parity=2)) as inst:
        inst.wait_ready()
        odd = open_serial(inst.serial_client(), baud_rate=38400, stop_bits=2, parity="odd")
        assert odd.query("*IDN?").startswith("TARVEL, ")
        odd.close()

        profile = inst.file("/var/lib/tarvel/profiles/3")
        os.makedirs(profile)
        with open(os.path.join(profile, "bp"), "w") as f:
            f.write("".join("%s: %s\n" % kv for kv in dict(LINE, rs232parity=0).items()))
        tcp = open_session(inst.scpi_port())
        tcp.write("*RCL 3")
        assert tcp.query("*ESE?") == "0"   # answered once the restore is done
        tcp.close()

        plain = open_serial(inst.serial_client(), baud_rate=38400, stop_bits=2, parity="none", timeout_ms=5000)
        try:
            assert plain.query("*IDN?").startswith("TARVEL, ")
        except pyvisa.VisaIOError:
            raise AssertionError("no reply without parity; serial-link saw:\n" +
                                 inst.procs["serial-link"].output()[-1500:])
        plain.close()
        assert inst.tvl().running()
