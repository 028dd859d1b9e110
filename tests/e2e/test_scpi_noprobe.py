"""SCPI against tvl4700 with no cards on its bus: the single-channel model,
no probe on its channel, and the queries that do not apply to it."""
import re

from instrument import Instrument
from scpiclient import open_session


def test_no_probe_and_the_single_channel_model():
    with Instrument(mendra=False) as inst:
        scpi = open_session(inst.scpi_port())
        assert re.match(r"^TARVEL, 4710 VAZID UVEDURIDER, 1\.6\.1, FP: unknown, PSU: unknown$",
                        scpi.query("*IDN?"))
        scpi.write("*CLS")
        assert scpi.query(":MEAS:FLUX?") == "NPC"
        assert scpi.query(":SYST:ERR:NEW?") == '-200,"Execution error; :MEAS:FLUX? with no probe"'
        assert int(scpi.query("*ESR?")) & 16
        assert scpi.query(":MEAS:FREQ?") == "NPC"
        assert scpi.query(":CAL:ZERO:HSEN:INIT") == "NPC"
        assert scpi.query(":SYST:ERR:NEW?") == '-200,"Execution error; :CAL#:ZERO:HSEN:INIT with no probe"'
        # No reply for these; their reasons are in the queue.
        scpi.write(":MEAS:FLUX:ALL?;:CALC:VSUM?;:MEAS2:FLUX?;:MEAS:TEMP?")
        assert scpi.query("*OPT?") == "0,0"
        errors = [scpi.query(":SYST:ERR:NEXT?") for _ in range(6)]
        assert errors[-3:] == ['-200,"Execution error; :MEAS:FLUX:ALL? n/a for 4710"',
                               '-200,"Execution error; :CALC:VSUM? n/a for 4710"',
                               '0,"No error"']
        scpi.close()
