"""SCPI with a real client (PyVISA) against tvl4700 and mendra's three
cards: identification, the status model and the error queue, the
measurement queries within each card's noise, units, holds, relative,
classifier limits, range and AC/DC, zeroing with *OPC?, and the exact reply
formats.  The tests share one instrument and run in file order.

Here over TCP; test_scpi_remote_serial.py runs the same suite over RS-232
(the cable's client end as a serial resource, with the instrument's
configured speed and framing) and test_scpi_remote_gpib.py through the GPIB
stand-in (at a GPIB address of its own)."""
import csv
import re
import time

import pytest

from instrument import Instrument
from scpiclient import open_transport, poll, probes_ready, read_late

# mendra's cards: noise in percent of full scale, around a field of 0.
NOISE = {1: 40.0, 2: 10.0, 3: 80.0}
FULL_SCALE_RANGE_3 = 30000.0   # gauss, probe class 3
ONE_DECIMAL = re.compile(r"^-?\d+\.\d$")   # range 3 in gauss: "%05.1f"


# How the instrument is set up and the client connects, by transport.
TRANSPORTS = {
    "tcp": ({}, {}),
    # 38400 baud, 8 data bits, 2 stop bits, odd parity: the cable passes the
    # bytes only while both ends use the same framing.
    "serial": ({"serial": True, "settings": {"rs232speed": 4, "rs232stopbits": 1, "rs232parity": 2}},
               {"baud_rate": 38400, "stop_bits": 2, "parity": "odd"}),
    "gpib": ({"gpib": True, "settings": {"gpibaddress": 7}}, {"address": 7}),
}


@pytest.fixture(scope="module")
def transport():
    return "tcp"


@pytest.fixture(scope="module")
def inst(transport):
    with Instrument(**TRANSPORTS[transport][0]) as instrument:
        instrument.wait_ready()
        yield instrument


@pytest.fixture(scope="module")
def scpi(inst, transport):
    session = open_transport(inst, transport, **TRANSPORTS[transport][1])
    yield session
    session.close()


def bound(channel, unit_scale=1.0):
    """The largest reading the card's noise allows in range 3."""
    return NOISE[channel] / 200.0 * FULL_SCALE_RANGE_3 * unit_scale


def test_identification_and_the_power_on_status(scpi):
    idn = scpi.query("*IDN?")
    assert re.match(r"^TARVEL, 4730 VAZID UVEDURIDER, 1\.6\.1, FP: \S+, PSU: \S+$", idn), idn
    assert scpi.query("*ESR?") == "128"
    assert scpi.query("*ESR?") == "0"
    assert scpi.query(":SYST:ERR?") == '-500,"Power on"'
    assert scpi.query(":SYST:VERS?") == "1999.0"


def test_error_queue_and_status_commands(scpi):
    scpi.write("*CLS")
    assert scpi.query("*STB?") == "0"
    scpi.write(":meas:bogus? 1")
    assert scpi.query(":SYST:ERR:NEW?") == '-100,"Command error; :meas:bogus? 1"'
    assert scpi.query("*STB?") == "4"
    assert scpi.query("*ESR?") == "32"
    for i in range(29):
        scpi.write("NOPE%d" % i)
    for i in range(23):
        expected = '-100,"Command error; NOPE%d"' % (i - 1) if i else '-100,"Command error; :meas:bogus? 1"'
        assert scpi.query(":SYST:ERR:NEXT?") == expected
    assert scpi.query(":SYST:ERR:NEXT?") == '-100,"Command error; NOPE22"'
    assert scpi.query(":SYST:ERR:NEXT?") == '-350,"Queue overflow"'
    assert scpi.query(":SYST:ERR:NEXT?") == '0,"No error"'
    scpi.write("*ESE 32;*SRE 48;BAD")
    assert scpi.query("*STB?") == str(4 | 32 | 64)
    scpi.write("*CLS")
    assert scpi.query("*STB?;*ESE?;*SRE?") == "0"
    assert scpi.read() == "32"
    assert scpi.read() == "48"
    scpi.write("*ESE 0;*SRE 0")


def error_queue(scpi):
    """The error queue as a script reads it: :SYST:ERR? until 0, each reply
    parsed as IEEE 488.2 data (a number, then a string in which a quote is
    doubled); strict, so a quote left single fails."""
    entries = []
    while True:
        code, text = next(csv.reader([scpi.query(":SYST:ERR?")], strict=True))
        if int(code) == 0:
            assert text == "No error"
            return entries
        entries.append((int(code), text))
        assert len(entries) <= 25, entries


def test_error_queue_read_until_empty_whatever_the_commands_held(scpi):
    scpi.write("*CLS")
    scpi.write('say "hi"')
    scpi.write_raw(b":BAD\tCMD\xb5\x1b\n")
    scpi.write('"')
    assert scpi.query(":SYST:ERR:NEW?") == '-100,"Command error; """'
    assert scpi.query(":SYST:ERR:NEWEST?") == '-100,"Command error; """', "the newest stays"
    assert error_queue(scpi) == [(-100, 'Command error; say "hi"'), (-100, "Command error; :BAD?CMD??"),
                                 (-100, 'Command error; "')]
    assert scpi.query("*STB?") == "0"
    scpi.write("*CLS")


def test_measurement_queries_of_every_channel(scpi):
    probes_ready(scpi)
    # *CLS clears events; the condition still says the probes are ready.
    scpi.write("*CLS")
    assert int(scpi.query(":STAT:OPER:COND?")) & 0x70 == 0x70
    for ch in (1, 2, 3):
        scpi.write(":SENS%d:FLUX:RANG 3" % ch)
        poll(scpi, ":SENS%d:FLUX:RANG?" % ch, lambda r: r == "DC,3,OFF")
    for _ in range(5):
        for ch in (1, 2, 3):
            reply = scpi.query(":MEAS%d:FLUX?" % ch)
            assert ONE_DECIMAL.match(reply), reply
            assert abs(float(reply)) <= bound(ch), (ch, reply)
        fields = scpi.query(":MEAS:FLUX:ALL?").split(",")
        assert len(fields) == 4
        for ch in (1, 2, 3):
            assert ONE_DECIMAL.match(fields[ch - 1]) and abs(float(fields[ch - 1])) <= bound(ch), fields
        vsum = scpi.query(":CALC:VSUM?").split(",")
        assert len(vsum) == 4 and all(re.match(r"^-?\d+\.\d{2}$", a) for a in vsum[1:]), vsum
        assert float(vsum[0]) >= 0
        time.sleep(0.3)
    assert re.match(r"^-?\d+\.\d$", scpi.query(":MEAS2:TEMP?"))
    assert scpi.query("*OPT?").count(",") == 5
    assert scpi.query(":SYST:ERR?") == '0,"No error"'


def test_units(scpi):
    scpi.write(":UNIT:FLUX TESLA")
    assert scpi.query(":UNIT:FLUX?") == "TESLA"
    reply = poll(scpi, ":MEAS3:FLUX?", lambda r: abs(float(r)) <= bound(3, 1e-4))
    assert re.match(r"^-?\d\.\d+$", reply), reply
    assert scpi.query(":UNIT:FLUX AMP") == "syntax error in argument"
    scpi.write(":UNIT:FLUX GAUSS")
    assert scpi.query(":UNIT:FLUX?") == "GAUSS"
    scpi.write(":UNIT:TEMP K")
    assert scpi.query(":UNIT:TEMP?") == "K"
    scpi.write(":UNIT:TEMP CEL;:UNIT:ANGL RAD")
    assert scpi.query(":UNIT:ANGL?") == "RAD"
    assert all(re.match(r"^-?\d\.\d{3}$", a) for a in scpi.query(":CALC:VSUM?").split(",")[1:])
    scpi.write(":UNIT:ANGL DEG")


def test_holds_relative_and_classifier(scpi):
    assert scpi.query(":CALC:HOLD:MAX:STAT?") == "OFF"
    scpi.write(":CALC:HOLD:MAX:STAT ON;:CALC:HOLD:MIN:STAT ON")
    assert scpi.query(":CALC:HOLD:MAX:STAT?") == "ON"
    scpi.write(":CALC:HOLD:MAX:RES;:CALC:HOLD:MIN:RES")
    high = float(poll(scpi, ":CALC:HOLD:MAX?", ONE_DECIMAL.match))
    low = float(scpi.query(":CALC:HOLD:MIN?"))
    assert -bound(1) <= low <= high <= bound(1)
    scpi.write(":CALC:HOLD:MAX:STAT OFF;:CALC:HOLD:MIN:STAT OFF")

    scpi.write(":CALC2:REL:OFFS 1234.5")
    assert scpi.query(":CALC2:REL:OFFS?") == "1234.5"
    scpi.write(":CALC2:REL:STAT ON")
    assert scpi.query(":CALC2:REL:STAT?") == "1"
    scpi.write(":CALC2:REL:STAT OFF")
    assert scpi.query(":CALC2:REL:STAT?") == "0"

    scpi.write(":CALC1:LIM:UPP 30000;:CALC1:LIM:LOW 29000")
    assert scpi.query(":CALC1:LIM:UPP?;:CALC1:LIM:LOW?") == "30000.0"
    assert scpi.read() == "29000.0"
    scpi.write(":CALC1:LIM:STAT 1")
    assert scpi.query(":CALC1:LIM:STAT?") == "1"
    poll(scpi, ":CALC1:LIM:FAIL?", lambda r: r == "1", what="reading below the lower limit")
    scpi.write(":CALC1:LIM:LOW -30000")
    poll(scpi, ":CALC1:LIM:FAIL?", lambda r: r == "0", what="reading within the limits")
    scpi.write(":CALC1:LIM:STAT 0")


def test_range_mode_and_frequency(scpi):
    scpi.write(":MEAS2:FREQ?")
    assert scpi.query(":SYST:ERR?") == '-200,"Execution error; :MEAS:FREQ? n/a in DC mode"'
    scpi.write(":SENS2:FLUX:AC:RANG 3")
    poll(scpi, ":SENS2:FLUX:RANG?", lambda r: r == "AC,3,OFF")
    assert poll(scpi, ":MEAS2:FREQ?", lambda r: r != "") == "4999.5"
    scpi.write(":UNIT:TIME SEC")
    # The period is stored when the card next reports its frequency.
    poll(scpi, ":MEAS2:FREQ?", lambda r: r == "0.00020002")
    scpi.write(":UNIT:TIME HZ;:SENS2:FLUX:DC:RANG:AUTO 1")
    poll(scpi, ":SENS2:FLUX:RANG?", lambda r: r.startswith("DC,") and r.endswith(",ON"))
    assert scpi.query(":SENS2:FLUX:RANG 9;:SENS2:FLUX:AC:FILT 9") == "argument out of range"


def test_zero_answers_operation_complete_when_it_ends(scpi):
    scpi.write(":CAL:ZERO:HSEN:MODE 0")
    assert scpi.query(":CAL:ZERO:HSEN:MODE?") == "0"
    started = time.monotonic()
    scpi.write(":CAL1:ZERO:HSEN:INIT;*OPC?")
    # The condition reply comes first: the zero runs, so *OPC? is pending.
    condition = int(scpi.query(":STAT:OPER:COND?"))
    assert condition & 512, condition
    assert read_late(scpi, 90) == "1"
    assert time.monotonic() - started > 5.0
    assert int(scpi.query(":STAT:OPER:COND?")) & 512 == 0
    assert scpi.query("*OPC?") == "1"


def test_reply_formats(scpi):
    assert re.match(r"^\d{4},\d{2},\d{2}$", scpi.query(":SYST:DATE?"))
    assert re.match(r"^\d{2},\d{2},\d{2}$", scpi.query(":SYST:TIME?"))
    scpi.write(":SYST:DATE 2031,06,15")
    assert scpi.query(":SYST:DATE?") == "2031,06,15"
    assert scpi.query(":SYST:DATE 2031,02,30") == "argument out of range"
    assert scpi.query(":SYST:TIME 12,30") == "syntax error in argument"
    scpi.write(":OUTP2:CORR:SCAL 2.56;:OUTP:VSUM:SCAL 7.5")
    assert scpi.query(":OUTP2:CORR:SCAL?") == "2.6"
    assert scpi.query(":OUTP:VSUM:SCAL?") == "7.5"
    assert scpi.query(":OUTP2:CORR:SCAL NAN") == "argument out of range"
    scpi.write(":DISP:RATE 2")
    assert scpi.query(":DISP:RATE?") == "2"
