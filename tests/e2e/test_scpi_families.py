"""The calibration-constant, board-identity, factory and diagnostic,
correction-table and report, multiplexer and DAC commands end to end: a
PyVISA client on tvl4700's TCP port, mendra's cards and backplane behind it,
and canbus-dump on the bus seeing what reaches the boards.  One instrument for
the whole file; each table row is one command with its reply and the frames
it must (or must not) put on the bus."""
import os
import re
import struct
import time

import pytest

from instrument import Instrument, wait_until
from scpiclient import open_session, poll, probes_ready

# Host-to-board frames: a card in slot n gets 0x140 + 0x20 n + command, the
# backplane 0x141-0x149 (0x140 and 0x146 are the periodic temperature
# request and vector-sum output, left out).  0x7F0 is the dump's own ping.
CARD = {1: 0x160, 2: 0x180, 3: 0x1A0}
PING_ID = 0x7F0
FILTERS = "7F0:7FF,141:7FF,142:7FF,143:7FF,144:7FF,145:7FF,147:7FF,148:7FF,149:7FF,160:7E0,180:7C0"
NO_REPLY = []
OUT_OF_RANGE = ["argument out of range"]


def f32(value):
    """The single-precision value nearest value."""
    return struct.unpack(">f", struct.pack(">f", value))[0]


def float_bytes(value):
    return list(struct.pack(">f", value))


def text_bytes(text):
    return [ord(c) for c in text] + [0] * (7 - len(text))


class Bus:
    """canbus-dump's view of the host-to-board frames."""

    def __init__(self, inst):
        self.inst = inst
        self.dump = inst.canbus_dump(FILTERS)
        wait_until(self._ping_seen, 30, poll=0.2, what="canbus-dump listening")

    def _ping_seen(self):
        self.inst.canbus_send("%03X#" % PING_ID)
        return any(i == PING_ID for i, _ in self.frames())

    def frames(self):
        """Every whole frame line so far: (id, [bytes])."""
        out = []
        for line in self.dump.output().split("\n")[:-1]:
            parts = line.split()
            if len(parts) >= 3 and parts[2].startswith("["):
                out.append((int(parts[1], 16), [int(b, 16) for b in parts[3:]]))
        return out

    def mark(self):
        return len(self.frames())

    def wait_for(self, since, expected, timeout=20.0):
        """Waits until the frames expected [(id, bytes)] have come, in that
        order, after mark since; returns the frames since the mark."""
        def arrived():
            seen = self.frames()[since:]
            i = 0
            for frame in seen:
                if i < len(expected) and frame == tuple(expected[i]):
                    i += 1
            return seen if i == len(expected) else None
        try:
            return wait_until(arrived, timeout, what="frames %s" % fmt(expected))
        except TimeoutError:
            raise AssertionError("frames %s never came; got %s" % (fmt(expected), fmt(self.frames()[since:])))

    def stop(self):
        self.dump.stop()


def fmt(frames):
    return ", ".join("%03X [%s]" % (i, " ".join("%02X" % b for b in d)) for i, d in frames)


def answer(scpi, *commands):
    """Sends the commands; returns every reply line they gave ([] for none),
    read up to the reply of the *IDN? sent after them."""
    for c in commands:
        scpi.write(c)
    scpi.write("*IDN?")
    lines = []
    while True:
        line = scpi.read()
        if line.startswith("TARVEL,"):
            return lines
        lines.append(line)


@pytest.fixture(scope="module")
def inst():
    with Instrument() as instrument:
        instrument.wait_ready()
        yield instrument


@pytest.fixture(scope="module")
def scpi(inst):
    session = open_session(inst.scpi_port())
    poll(session, "*OPT?", lambda r: "0,0" not in r, what="the probes' data")
    yield session
    session.close()


@pytest.fixture(scope="module")
def bus(inst):
    b = Bus(inst)
    yield b
    b.stop()


# A command whose frame marks the end of the frames of those before it (the
# handlers send on the reader thread, one command after the other).
SENTINELS = [(":DIAG{ch}:MUX:HPF 0", 0x0F, [0] * 8), (":DIAG{ch}:MUX:FAMP 0", 0x0C, [0] * 8)]
BACKPLANE_SENTINELS = [(":DIAG:SDAC:MODE 0", 0x141, [0]), (":DIAG:VDAC:RANG 0", 0x147, [0, 0])]


def autorange_frame(frame):
    """A card's gain frame (command 0x09, sub-codes 8 and 9), which the
    instrument sends by itself as a channel changes range."""
    return frame[0] & 0x1F == 0x09 and frame[1][:1] in ([8], [9])


def frames_of(scpi, bus, command, ids, channel=2):
    """Sends command; returns (its replies, the frames with the given ids
    that it sent), the frames taken up to a sentinel command's frame."""
    since = bus.mark()
    replies = answer(scpi, command)
    if any(i >= 0x160 for i in ids):
        text, code, data = next(s for s in SENTINELS if CARD[channel] + s[1] not in ids)
        sentinel = (CARD[channel] + code, data)
        text = text.format(ch=channel)
    else:
        text, sentinel_id, data = next(s for s in BACKPLANE_SENTINELS if s[1] not in ids)
        sentinel = (sentinel_id, data)
    assert answer(scpi, text) == NO_REPLY
    seen = bus.wait_for(since, [sentinel])
    end = seen.index(sentinel)
    return replies, [f for f in seen[:end] if f[0] in ids and not autorange_frame(f)]


# ---- Calibration constants

# (command, parameter index, decimals, label in the channel's parameter table)
CHANNEL_CONSTANTS = [
    ("GAIN:PROB:RLOW", 0, 6, "Probe Inp Base Gain 30G"),
    ("GAIN:PROB:RMED", 1, 6, "Probe Inp Base Gain 300G"),
    ("GAIN:PROB:RHIGH", 2, 6, "Probe Inp Base Gain 3kG"),
    ("GAIN:PROB:RXHIGH", 3, 6, "Probe Inp Base Gain 30kG"),
    ("GAIN:DINP", 4, 6, "Direct Input MADC Gain"),
    ("GAIN:DINS:RLOW", 5, 6, "Direct Inp Stage2 Base Gain Range 1"),
    ("GAIN:DINS:RMED", 6, 6, "Direct Inp Stage2 Base Gain Range 2"),
    ("GAIN:DINS:RHIGH", 7, 6, "Direct Inp Stage2 Base Gain Range 3"),
    ("THER:VOLT", 8, 6, "Thermistor Voltage"),
    ("THER:RES", 9, 6, "Thermistor Resistance"),
    ("MDAC:FSP:LOW", 10, 6, "MDAC Full Scale 3V Range"),
    ("MDAC:FSP:HIGH", 11, 6, "MDAC Full Scale 10V Range"),
    ("UDAC:ZERO:LOW", 12, 6, "UDAC Zero Output 3V Range"),
    ("UDAC:ZERO:HIGH", 13, 6, "UDAC Zero Output 10V Range"),
    ("UDAC:FSP:LOW", 14, 6, "UDAC Full Pos Output 3V Range"),
    ("UDAC:FSN:LOW", 15, 6, "UDAC Full Neg Output 3V Range"),
    ("UDAC:FSP:HIGH", 16, 6, "UDAC Full Pos Output 10V Range"),
    ("UDAC:FSN:HIGH", 17, 6, "UDAC Full Neg Output 10V Range"),
    ("CDAC:ZERO:LOW", 18, 6, "CDAC Zero Output 3V Range"),
    ("CDAC:ZERO:HIGH", 19, 6, "CDAC Zero Output 10V Range"),
    ("CDAC:FSP:LOW", 20, 6, "CDAC Full Pos Output 3V Range"),
    ("CDAC:FSN:LOW", 21, 6, "CDAC Full Neg Output 3V Range"),
    ("CDAC:FSP:HIGH", 22, 6, "CDAC Full Pos Output 10V Range"),
    ("CDAC:FSN:HIGH", 23, 6, "CDAC Full Neg Output 10V Range"),
    ("DADC:GAIN", 24, 6, "Diag ADC Gain Correction Factor"),
    ("FREQ", 25, 6, "Frequency Measurement Correction Factor"),
    ("TRAN:XLOW", 26, 6, "Current Cal Transductance 0.63 mA"),
    ("TRAN:LOW", 27, 6, "Current Cal Transductance 6.3 mA"),
    ("TRAN:MED", 28, 6, "Current Cal Transductance 10 mA"),
    ("TRAN:HIGH", 29, 6, "Current Cal Transductance 100 mA"),
    ("MADC:OFFS", 40, 0, "MADC Offset"),
    ("CURR:OFFS", 81, 0, "Current Cal Offset"),
    ("CURR:AC", 82, 10, "Actual Control Current in AC Mode (A)"),
    ("CURR:DC", 83, 10, "Actual Control Current in DC Mode (A)"),
]


def constant_value(index, decimals):
    """A value of its own for each entry: -12.6 for the MADC offset (which
    answers -13), tiny currents for the 10-decimal entries."""
    return {0: -12.6 if index == 40 else 7.4, 6: 1000.25 + index, 10: 0.0012345 + index * 1e-6}[decimals]


def test_channel_constants_reach_the_card_and_come_back(scpi, bus):
    since = bus.mark()
    for command, index, decimals, _ in CHANNEL_CONSTANTS:
        scpi.write(":DIAG2:DAT:CAL:%s %r" % (command, constant_value(index, decimals)))
    bus.wait_for(since, [(CARD[2] + 0x07, [1, index] + float_bytes(f32(constant_value(index, decimals))))
                         for _, index, decimals, _ in CHANNEL_CONSTANTS])
    # The card reports each entry back; the getters answer the copy.
    for command, index, decimals, _ in CHANNEL_CONSTANTS:
        want = "%.*f" % (decimals, f32(constant_value(index, decimals)))
        poll(scpi, ":DIAG2:DAT:CAL:%s?" % command, lambda r: r == want, timeout=20, what=want)
    assert scpi.query(":DIAG2:DAT:CAL:MADC:OFFS?") == "-13"


@pytest.mark.parametrize("argument,value", [("1.5E-3", 0.0015), ("2.5XYZ", 2.5), ("ABC", 0.0), ("", 0.0)])
def test_channel_constant_arguments_read_as_far_as_they_are_numbers(scpi, bus, argument, value):
    replies, frames = frames_of(scpi, bus, ":DIAG3:DAT:CAL:DADC:GAIN " + argument, [CARD[3] + 0x07], channel=3)
    assert replies == NO_REPLY
    assert frames == [(CARD[3] + 0x07, [1, 24] + float_bytes(f32(value)))]


# (command, constant index, decimals, argument sent, value the frame carries)
BACKPLANE_CONSTANTS = [("SYNC", 0, 0, "511", 511.0)] + [
    ("%s:%s:%s" % (dac, point, rng), 1 + 6 * d + p, 0, "%d.9" % (100 + 6 * d + p), float(100 + 6 * d + p))
    for d, dac in enumerate(("VDAC", "ADAC"))
    for p, (point, rng) in enumerate((("ZERO", "LOW"), ("ZERO", "HIGH"), ("FSP", "LOW"), ("FSN", "LOW"),
                                      ("FSP", "HIGH"), ("FSN", "HIGH")))
] + [("TEMP", 13, 1, "23.9", f32(23.9))]


def test_backplane_constants_reach_the_backplane_and_come_back(scpi, bus):
    since = bus.mark()
    for command, _, _, argument, _ in BACKPLANE_CONSTANTS:
        scpi.write(":DIAG:BACK:DAT:CAL:%s %s" % (command, argument))
    bus.wait_for(since, [(0x144, [1, index] + float_bytes(value)) for _, index, _, _, value in BACKPLANE_CONSTANTS])
    for command, _, decimals, _, value in BACKPLANE_CONSTANTS:
        want = "%.*f" % (decimals, value)
        poll(scpi, ":DIAG:BACK:DAT:CAL:%s?" % command, lambda r: r == want, timeout=30, what=want)


@pytest.mark.parametrize("argument", ["512", "-1", "99999999999999999999"])
def test_sync_pulse_offset_outside_0_511_is_refused(scpi, bus, argument):
    replies, frames = frames_of(scpi, bus, ":DIAG:BACK:DAT:CAL:SYNC " + argument, [0x144])
    assert (replies, frames) == (OUT_OF_RANGE, [])


def test_diagnostic_adc_read_without_an_answer_gives_99999_after_a_second(scpi, bus):
    for command, sub, want in ((":DIAG1:DADC:VOLT?", 1, "99999.00000"), (":DIAG1:DADC:COUN?", 0, "99999")):
        since = bus.mark()
        started = time.monotonic()
        assert scpi.query(command) == want
        assert time.monotonic() - started >= 0.9
        bus.wait_for(since, [(CARD[1] + 0x14, [2, sub])])


# ---- Board identity

IDENTITY = [
    # (setter, argument, frame id, first slot, stored text)
    (":DIAG1:IDEN:SER", "abcdefghijklmnop", CARD[1] + 0x03, 4, "ABCDEFGHIJKLMN"),
    (":DIAG1:IDEN:REV", "b", CARD[1] + 0x03, 2, "B"),
    (":DIAG3:IDEN:MOD", "abc def", CARD[3] + 0x03, 0, "ABC"),
    (":DIAG2:IDEN:CALD", "2026-12-10", CARD[2] + 0x03, 6, "2026-12-10"),
    (":DIAG2:IDEN:SER", "", CARD[2] + 0x03, 4, ""),
    (":DIAG:BACK:IDEN:SER", "bp-0042", 0x148, 4, "BP-0042"),
    (":DIAG:BACK:IDEN:CALD", "2026-11-30", 0x148, 6, "2026-11-30"),
    (":DIAG:BACK:IDEN:REV", "c", 0x148, 2, "C"),
]


def test_board_texts_go_out_in_two_halves_and_come_back(scpi, bus):
    for setter, argument, frame_id, slot, stored in IDENTITY:
        since = bus.mark()
        assert answer(scpi, ("%s %s" % (setter, argument)).strip()) == NO_REPLY
        bus.wait_for(since, [(frame_id, [slot] + text_bytes(stored[:7])), (frame_id, [slot + 1] + text_bytes(stored[7:]))])
        poll(scpi, setter + "?", lambda r: r == stored, what=repr(stored))


def test_backplane_model_is_sent_as_the_others(scpi, bus):
    # mendra's backplane keeps its model; the frames are what counts here.
    since = bus.mark()
    assert answer(scpi, ":DIAG:BACK:IDEN:MOD tvl-bp") == NO_REPLY
    bus.wait_for(since, [(0x148, [0] + text_bytes("TVL-BP")), (0x148, [1] + text_bytes(""))])


# ---- A channel that is not there: no reply, nothing sent, nothing queued

# (DIAG with the digit 4 is the backplane's branch, so the cards' commands
# are tried on channels 5-9; MEAS4 is the vector sum, which has no stream.)
SILENT_CHANNEL = [
    ":DIAG5:DAT:CAL:GAIN:PROB:RLOW?", ":DIAG9:DAT:CAL:GAIN:PROB:RLOW 5", ":DIAG5:DADC:VOLT?",
    ":DIAG6:IDEN:MOD?", ":DIAG7:IDEN:SER X", ":DIAG5:MUX:MADC 1", ":DIAG5:CDAC:OUTP 99999",
    ":DIAG8:EEPR:LOAD", ":DIAG5:ZERO:STAT?", ":DIAG5:DAT:RAW:DC?", ":DIAG5:OPT", ":DIAG5:CLAS 1",
    ":DIAG5:DAT:CAL:NEW 1", ":DIAG5:DAT:CAL:DCL? 0,1", ":DIAG5:DAT:CAL:POFF? 0,0", ":DIAG5:REP:DUMP?",
    ":DIAG5:REP:PROB?", ":MEAS4:FLUX:STR? 5", ":MEAS5:FLUX:STR? 5",
]


def settled(scpi, bus, codes, quiet=1.0, timeout=60.0):
    """Waits until the three probes are ready and then for a quiet second
    without card frames of the codes: the frames a channel sends as its probe
    becomes ready (range, peaks, gain) must not fall into a test's window."""
    probes_ready(scpi)
    state = {"count": -1, "since": time.monotonic()}

    def quiet_enough():
        count = sum(1 for i, _ in bus.frames() if 0x160 <= i <= 0x1BF and (i & 0x1F) in codes)
        if count != state["count"]:
            state["count"], state["since"] = count, time.monotonic()
        return time.monotonic() - state["since"] >= quiet
    wait_until(quiet_enough, timeout, poll=0.1, what="the cards' start-up frames over")


def test_a_channel_that_is_not_there_gets_silence(scpi, bus):
    # What those commands would send to some card (the cards' range and gain
    # frames of autoranging pass meanwhile).
    codes = {0x03, 0x06, 0x07, 0x10, 0x14, 0x17}
    settled(scpi, bus, codes)
    since = bus.mark()
    assert answer(scpi, "*CLS", *SILENT_CHANNEL) == NO_REPLY
    assert answer(scpi, ":DIAG1:MUX:HPF 1") == NO_REPLY
    sentinel = (CARD[1] + 0x0F, [1] + [0] * 7)
    seen = bus.wait_for(since, [sentinel])
    sent = [f for f in seen[:seen.index(sentinel)] if f[0] == 0x149 or (
        0x160 <= f[0] <= 0x1BF and ((f[0] & 0x1F) in codes or (f[0] & 0x1F) == 0x09 and not autorange_frame(f)))]
    assert fmt(sent) == ""
    assert scpi.query(":SYST:ERR?") == '0,"No error"'


# ---- Multiplexers, switches and DACs

Z7 = [0] * 7
# (card command or backplane frame, argument, frame id, frame data; None: nothing sent)
CARD_SETTINGS = [
    ("MUX:FAMP", "1", 0x0C, [1] + Z7), ("MUX:FAMP", "2", 0x0C, None),
    ("MUX:SAMP", "3", 0x0D, [3] + Z7), ("MUX:SAMP", "4", 0x0D, None),
    ("MUX:TAMP", "2", 0x0E, [2] + Z7), ("MUX:TAMP", "3", 0x0E, None),
    ("MUX:HPF", "1", 0x0F, [1] + Z7), ("MUX:HPF", "-1", 0x0F, None),
    ("MUX:MADC", "7", 0x10, [7] + Z7), ("MUX:MADC", "8", 0x10, None),
    ("MUX:MADC", "12.7", 0x10, None), ("MUX:MADC", "0x10", 0x10, [0] + Z7),
    ("MUX:DCREF", "1", 0x11, [1] + Z7), ("MUX:DCREF", "2", 0x11, None),
    ("MUX:CCUR", "1", 0x12, [1] + Z7), ("MUX:HCUR", "1", 0x13, [1] + Z7), ("MUX:HCUR", "4294967297", 0x13, None),
    ("MUX:DADC", "3", 0x14, [0, 3]), ("MUX:DADC", "4", 0x14, None),
    ("DADC:MODE", "256", 0x14, [1, 0]), ("DADC:MODE", "-1", 0x14, [1, 255]),
    ("MUX:UDAC:GAIN", "1", 0x15, [0, 1]), ("MDAC:RANG", "1", 0x15, [0, 1]),
    ("MUX:UDAC:INP", "1", 0x15, [1, 1]), ("CDAC:RANG", "1", 0x15, [2, 1]),
    ("UDAC:RANG", "1", 0x15, [3, 1]), ("UDAC:RANG", "2", 0x15, None),
    ("MDAC:OUTP", "4095", 0x09, [7, 0x0F, 0xFF]), ("MDAC:OUTP", "4096", 0x09, OUT_OF_RANGE),
    ("MDAC:OUTP", "-1", 0x09, OUT_OF_RANGE),
    ("UDAC:OUTP", "-32767", 0x09, [5, 0x80, 0x01]), ("UDAC:OUTP", "-32768", 0x09, OUT_OF_RANGE),
    ("CDAC:OUTP", "32767", 0x09, [2, 0x7F, 0xFF]), ("CDAC:OUTP", "4294967297", 0x09, OUT_OF_RANGE),
    ("MDAC:MODE", "1", 0x09, [6, 0, 1]), ("MDAC:MODE", "2", 0x09, [7, 0, 0]), ("MDAC:MODE", "3", 0x09, OUT_OF_RANGE),
    ("UDAC:MODE", "3", 0x09, [5, 0, 0]), ("UDAC:MODE", "1", 0x09, [3, 0, 1]), ("UDAC:MODE", "4", 0x09, OUT_OF_RANGE),
    ("CDAC:MODE", "2", 0x09, [0, 0, 2]), ("CDAC:MODE", "0", 0x09, [0, 0, 0]), ("CDAC:MODE", "-1", 0x09, OUT_OF_RANGE),
]
BACKPLANE_SETTINGS = [
    ("VDAC:RANG", "1", 0x147, [0, 1]), ("VDAC:RANG", "2", 0x147, None), ("ADAC:RANG", "1", 0x147, [1, 1]),
    ("VDAC:OUTP", "-32767", 0x145, [2, 0x80, 0x01]), ("ADAC:OUTP", "300", 0x145, [5, 0x01, 0x2C]),
    ("ADAC:OUTP", "32768", 0x145, OUT_OF_RANGE),
    ("VDAC:MODE", "1", 0x145, [0, 0, 1]), ("VDAC:MODE", "2", 0x145, [2, 0, 0]), ("VDAC:MODE", "3", 0x145, OUT_OF_RANGE),
    ("ADAC:MODE", "1", 0x145, [3, 0, 1]), ("ADAC:MODE", "0", 0x145, [3, 0, 0]),
    ("SDAC:OUTP", "-2", 0x142, [0xFF, 0xFE]), ("SDAC:OUTP", "40000", 0x142, OUT_OF_RANGE),
    ("SDAC:MODE", "1", 0x141, [1]), ("SDAC:MODE", "2", 0x141, OUT_OF_RANGE),
]


def check_setting(scpi, bus, command, frame_id, expected, channel=2):
    replies, frames = frames_of(scpi, bus, command, [frame_id], channel)
    if expected is OUT_OF_RANGE:
        assert (replies, frames) == (OUT_OF_RANGE, []), command
    else:
        assert (replies, frames) == (NO_REPLY, [(frame_id, expected)] if expected else []), command


@pytest.mark.parametrize("command,argument,code,expected", CARD_SETTINGS)
def test_card_multiplexers_and_dacs(scpi, bus, command, argument, code, expected):
    check_setting(scpi, bus, ":DIAG2:%s %s" % (command, argument), CARD[2] + code, expected)


@pytest.mark.parametrize("command,argument,frame_id,expected", BACKPLANE_SETTINGS)
def test_backplane_dacs(scpi, bus, command, argument, frame_id, expected):
    check_setting(scpi, bus, ":DIAG:%s %s" % (command, argument), frame_id, expected)


# ---- Factory and diagnostic commands

def option_10(slot):
    return (CARD[slot] + 0x17, [0, 10] + [0] * 6)


FACTORY = [
    # (command, replies, frames sent, in order)
    (":DIAG2:EEPR:LOAD", NO_REPLY, [(CARD[2] + 0x06, [1])]),
    (":DIAG2:EEPR:WRIT", NO_REPLY, [(CARD[2] + 0x06, [0])]),
    (":DIAG2:DEF:REC", NO_REPLY, [(CARD[2] + 0x06, [2])]),
    (":DIAG2:DEF:FACT", NO_REPLY, [(CARD[2] + 0x06, [3])]),
    (":DIAG:BACK:EEPR:LOAD", NO_REPLY, [(0x143, [1]), option_10(1), option_10(2), option_10(3)]),
    (":DIAG:BACK:EEPR:WRIT", NO_REPLY, [(0x143, [0]), option_10(1), option_10(2), option_10(3)]),
    (":DIAG:BACK:DEF:REC", NO_REPLY, [(0x143, [2])]),
    (":DIAG:BACK:DEF:FACT", NO_REPLY, [(0x143, [3])]),
    (":DIAG2:OPT 6", NO_REPLY, [(CARD[2] + 0x17, [0, 6] + [0] * 6)]),
    (":DIAG2:OPT 6,1,-1,65535", NO_REPLY, [(CARD[2] + 0x17, [0, 6, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF])]),
    (":DIAG2:CLAS 1,1", NO_REPLY, [(0x149, [2, 1, 1])]),
    (":DIAG2:CLAS 0,5", NO_REPLY, [(0x149, [2, 0, 1])]),
    (":DIAG2:CLAS 1,0", NO_REPLY, [(0x149, [2, 1, 0])]),
    (":DIAG3:DAT:CAL:NEW 10,,20", NO_REPLY, [(CARD[3] + 0x08, [0, 10, 0, 20])]),
    (":DIAG1:MODE 255", NO_REPLY, [(CARD[1] + 0x0B, [255] + Z7)]),
    (":DIAG1:MODE 0", NO_REPLY, [(CARD[1] + 0x0B, [0] + Z7)]),
    (":DIAG1:CURR:REC", NO_REPLY, [(CARD[1] + 0x16, [2])]),
]


@pytest.mark.parametrize("command,replies,frames", FACTORY)
def test_factory_and_diagnostic_commands_reach_the_boards(scpi, bus, command, replies, frames):
    since = bus.mark()
    assert answer(scpi, command) == replies
    bus.wait_for(since, frames)


# Commands refused for their argument: the reply, and nothing on the bus.
REFUSED = [
    (":DIAG2:OPT", ["missing argument"], [CARD[2] + 0x17]),
    (":DIAG2:OPT 7,1,2,3", NO_REPLY, [CARD[2] + 0x17]),   # reads the settings file again
    (":DIAG2:OPT 6,70000", OUT_OF_RANGE, [CARD[2] + 0x17]),
    (":DIAG2:CLAS 1", ["missing argument"], [0x149]),
    (":DIAG2:CLAS", ["missing argument"], [0x149]),
    (":DIAG3:DAT:CAL:NEW 10,20", ["syntax error in argument"], [CARD[3] + 0x08]),
    (":DIAG3:DAT:CAL:NEW 10,20,256", OUT_OF_RANGE, [CARD[3] + 0x08]),
    (":DIAG1:MODE 256", NO_REPLY, [CARD[1] + 0x0B]),
    (":DIAG1:MODE -1", NO_REPLY, [CARD[1] + 0x0B]),
    (":DIAG1:MODE 4294967297", NO_REPLY, [CARD[1] + 0x0B]),
    (":DIAG1:AVER 8", NO_REPLY, [CARD[1] + c for c in range(0x20)]),
]


@pytest.mark.parametrize("command,replies,ids", REFUSED)
def test_refused_diagnostic_commands_send_nothing(scpi, bus, command, replies, ids):
    channel = int(re.match(r":DIAG(\d)", command).group(1))
    # A sentinel of the channel's card passes the filter of the ids asked for.
    got, frames = frames_of(scpi, bus, command, [i for i in ids if i != CARD[channel] + 0x0F], channel)
    assert (got, frames) == (replies, [])


def test_diagnostic_queries(scpi):
    assert re.match(r"^-?\d+\.\d$", scpi.query(":DIAG:BACK:TEMP?"))
    assert re.match(r"^[0-4]$", scpi.query(":DIAG1:ZERO:STAT?"))
    # Mode 1: the card's reading with its 9 decimals and unit "Vrms".
    scpi.write(":DIAG3:MODE 1")
    poll(scpi, ":DIAG3:DAT:RAW:DC?", lambda r: re.match(r"^-?\d+\.\d{9} Vrms$", r), what="a Vrms reading")
    scpi.write(":DIAG3:MODE 2")
    poll(scpi, ":DIAG3:DAT:RAW:DC?", lambda r: re.match(r"^-?\d+ CTrms$", r), what="a CTrms reading")
    scpi.write(":DIAG3:MODE 0")


# ---- Streaming

def test_streaming_sends_readings_for_its_seconds_and_never_splits_a_report(scpi):
    scpi.write(":DISP:RATE 3")   # five readings a second
    scpi.write(":MEAS2:FLUX:STR? 3")
    started = time.monotonic()
    time.sleep(0.5)
    report = answer(scpi, ":DIAG:BACK:REP?")
    streamed = [line for line in report if re.match(r"^-?\d+\.\d+$", line)]
    lines = [line for line in report if line not in streamed]
    assert lines[1] == "Backplane Board Information"
    # The report's lines come together: no reading between its first and last.
    first = report.index("Backplane Board Information") - 1
    last = first + len(lines) - 1
    assert all(not re.match(r"^-?\d+\.\d+$", line) for line in report[first:last + 1])
    # Readings keep coming until the 3 s are up, then stop: a query every
    # 0.2 s until well after the end, the lines before each reply collected
    # with the time they came.  Each query gets its own reply, so every read
    # waits for a line that comes; a reading after the end would show up
    # before one of the later replies.
    came = []
    while time.monotonic() - started < 5.5:
        scpi.write(":SYST:VERS?")
        while (line := scpi.read()) != "1999.0":
            came.append((time.monotonic() - started, line))
        time.sleep(0.2)
    for _, line in came:
        assert re.match(r"^-?\d+\.\d+$", line), line
        streamed.append(line)
    assert came and came[-1][0] >= 2.0, "readings stopped early: %r" % came[-3:]
    assert came[-1][0] < 4.0, "readings still came after the 3 s: %r" % came[-3:]
    assert len(streamed) >= 8
    assert answer(scpi, ":DISP:RATE 0") == NO_REPLY


# ---- Correction tables and probe offsets

TABLE_SETTERS = [
    # (command, card table, index, value)
    (":DIAG1:DAT:CAL:DCL 0,1,1.5", 1, 1, 1.5),
    (":DIAG1:DAT:CAL:DCL 4,0,2.25", 0, 0, 2.25),
    (":DIAG1:DAT:CAL:FCOR 7,2,0.75", 12, 2, 0.75),
    (":DIAG1:DAT:CAL:FCOR 0,3,1.125", 5, 3, 1.125),
    (":DIAG1:DAT:CAL:RMSL 4,3,-0.5", 13, 3, -0.5),
    (":DIAG1:DAT:CAL:RMSL 2,0,0.875", 16, 0, 0.875),
]


def test_table_elements_reach_the_card_and_come_back(scpi, bus):
    since = bus.mark()
    for command, _, _, _ in TABLE_SETTERS:
        assert answer(scpi, command) == NO_REPLY
    bus.wait_for(since, [(CARD[1] + 0x08, [2, table, index] + float_bytes(value))
                         for _, table, index, value in TABLE_SETTERS])
    for command, _, _, value in TABLE_SETTERS:
        query = command.replace(" ", "? ").rsplit(",", 1)[0]
        poll(scpi, query, lambda r: r == "%.6f" % value, what="%.6f" % value)


TABLE_ERRORS = [
    (":DIAG1:DAT:CAL:DCL? 5,0", ["invalid range"]),
    (":DIAG1:DAT:CAL:DCL? -1,0", ["invalid range"]),
    (":DIAG1:DAT:CAL:DCL? 4", ["syntax error in argument"]),
    (":DIAG1:DAT:CAL:DCL?", ["missing argument"]),
    (":DIAG1:DAT:CAL:DCL? 0,999", ["0.000000"]),
    (":DIAG1:DAT:CAL:DCL 5,0,1", ["invalid range"]),
    (":DIAG1:DAT:CAL:DCL 0,1", ["syntax error in argument"]),
    (":DIAG1:DAT:CAL:DCL", ["missing argument"]),
    (":DIAG1:DAT:CAL:FCOR 8,0,1", ["invalid table"]),
    (":DIAG1:DAT:CAL:FCOR? 8,0", ["invalid range"]),
    (":DIAG1:DAT:CAL:RMSL 0,-1,1", ["index out of range"]),
    (":DIAG1:DAT:CAL:DCL 0,999,1", ["index out of range"]),    # past the DC tables' length
    (":DIAG1:DAT:CAL:FCOR 0,999,1", ["index out of range"]),   # past the full-scale tables'
    (":DIAG1:DAT:CAL:FCOR? 4,14", ["1.000000"]),               # last of the low-end tables (15)
    (":DIAG1:DAT:CAL:FCOR? 4,15", ["0.000000"]),
    (":DIAG1:DAT:CAL:RMSL 0,4294967296,1", ["index out of range"]),
    (":DIAG1:DAT:CAL:POFF? 5,0", NO_REPLY),
    (":DIAG1:DAT:CAL:POFF 0,4,1", NO_REPLY),
    (":DIAG1:DAT:CAL:ROFF? 0", ["syntax error in argument"]),
]


@pytest.mark.parametrize("command,replies", TABLE_ERRORS)
def test_table_argument_errors_send_nothing(scpi, bus, command, replies):
    got, frames = frames_of(scpi, bus, command, [CARD[1] + 0x07, CARD[1] + 0x08], channel=1)
    assert (got, frames) == (replies, [])


def test_probe_offsets_by_row_and_column(scpi, bus):
    since = bus.mark()
    assert answer(scpi, ":DIAG1:DAT:CAL:POFF 0,0,12.7", ":DIAG1:DAT:CAL:ROFF 4,3,12.7") == NO_REPLY
    bus.wait_for(since, [(CARD[1] + 0x07, [1, 45] + float_bytes(12.0)),
                         (CARD[1] + 0x07, [1, 64] + float_bytes(f32(12.7)))])
    poll(scpi, ":DIAG1:DAT:CAL:POFF? 0,0", lambda r: r == "12")
    poll(scpi, ":DIAG1:DAT:CAL:ROFF? 4,3", lambda r: r == "12.7000")


# ---- Reports

def row(name, value):
    return name.ljust(40) + value.rjust(15)


BACKPLANE_NAMES = ["Sync Pulse Offset"] + ["%s %s Output %s Range" % (dac, point, rng)
                                           for dac in ("VDAC", "ADAC")
                                           for point, rng in (("Zero", "3V"), ("Zero", "10V"), ("Full Pos", "3V"),
                                                              ("Full Neg", "3V"), ("Full Pos", "10V"),
                                                              ("Full Neg", "10V"))]


def test_backplane_report_is_the_backplane_data_line_for_line(scpi):
    texts = [scpi.query(":DIAG:BACK:IDEN:%s?" % t) for t in ("MOD", "REV", "SER", "CALD")]
    constants = [scpi.query(":DIAG:BACK:DAT:CAL:%s?" % c) for c, _, _, _, _ in BACKPLANE_CONSTANTS]
    expected = ["", "Backplane Board Information", "-" * 27, ""]
    expected += [row(n, t) for n, t in zip(("Model", "Rev", "Serial", "Cal Date"), texts)]
    expected += [row("Cal Temperature", constants[-1]), "", "Backplane Cal Parameters", "-" * 24]
    expected += [row(n, v) for n, v in zip(BACKPLANE_NAMES, constants[:-1])]
    expected += [""]
    assert answer(scpi, ":DIAG:BACK:REP?") == expected
    # DIAG with the digit 4 is the backplane's branch too.
    assert answer(scpi, ":DIAG4:REP?") == expected
    assert scpi.query(":DIAG4:DAT:CAL:SYNC?") == constants[0]


def test_channel_parameter_report_shows_what_the_getters_answer(scpi):
    report = answer(scpi, ":DIAG2:REP:TABL?")
    assert report[:3] == ["", "Channel 2 Board Information", ""]
    texts = [scpi.query(":DIAG2:IDEN:%s?" % t) for t in ("MOD", "REV", "SER", "CALD")]
    assert report[3:7] == [row(n, t) for n, t in zip(("Model", "Rev", "Serial", "Cal Date"), texts)]
    assert report[8] == "Channel 2 Parameter Table"
    by_name = {line[:40].rstrip(): line[40:].strip() for line in report if len(line) == 55}
    for command, index, decimals, label in CHANNEL_CONSTANTS:
        got = scpi.query(":DIAG2:DAT:CAL:%s?" % command)
        assert label in by_name, label
        shown = by_name[label]
        places = len(shown.split(".")[1]) if "." in shown else 0
        assert abs(float(shown) - float(got)) <= 0.5 * 10 ** -min(places, decimals) + 1e-12, (label, shown, got)
    assert by_name["Probe Offset HP16 30G"] == scpi.query(":DIAG2:DAT:CAL:POFF? 0,0")
    assert by_name["Probe RMS Offset DC 30kG"] == scpi.query(":DIAG2:DAT:CAL:ROFF? 4,3")


# The dump's parameter lines: what they set.
DUMP_PARAMETERS = {
    ":dat:cal:gain:prob:rlow": 0, ":dat:cal:gain:prob:rmed": 1, ":dat:cal:gain:prob:rhigh": 2,
    ":dat:cal:gain:prob:rxhigh": 3, ":dat:cal:gain:dinput": 4, ":dat:cal:gain:dinsstage:rlow": 5,
    ":dat:cal:gain:dinsstage:rmed": 6, ":dat:cal:gain:dinstage:rhigh": 7, ":dat:cal:thermistor:voltage": 8,
    ":dat:cal:thermistor:resistance": 9, ":dat:cal:transductance:xlow": 26, ":dat:cal:transductance:low": 27,
    ":dat:cal:transductance:med": 28, ":dat:cal:transductance:high": 29,
}


def table_number(mnemonic, group):
    """The card's table that a dump line's group number addresses."""
    kind = mnemonic.rsplit(":", 1)[1]
    if kind == "fcor":
        return group + 5
    return {"dcl": [1, 2, 3, 4, 0], "rmsl": [14, 15, 16, 17, 13]}[kind][group]


def test_configuration_dump_replays_to_the_same_frames(scpi, bus):
    scpi.write(":DIAG1:DAT:CAL:DCL 0,1,1.5")
    poll(scpi, ":DIAG1:DAT:CAL:DCL? 0,1", lambda r: r == "1.500000")
    dump = answer(scpi, ":DIAG1:REP:DUMP?")
    assert dump[2] == " Begin Channel 1 Configuration Dump" and dump[-2] == " End Channel 1 Configuration Dump"
    commands = [line for line in dump if line.startswith(":diag1")]
    parameters = [c for c in commands if ":dat:cal:dcl" not in c and ":fcor" not in c and ":rmsl" not in c]
    assert len(parameters) == 14
    # Each parameter line is the getter's value (the dump's own decimals).
    for line in parameters:
        mnemonic, value = line.split()
        got = scpi.query(mnemonic + "?")
        places = len(value.split(".")[1]) if "." in value else 0
        assert abs(float(value) - float(got)) <= 0.5 * 10 ** -places + 1e-9, (line, got)
    assert ":diag1:dat:cal:dcl 0,1,1.500000" in commands
    # Sent back, every line is a command the instrument takes, and the card
    # gets each entry again.
    since = bus.mark()
    assert answer(scpi, "*CLS", *commands) == NO_REPLY
    expected = []
    for line in commands:
        mnemonic, value = line.split()
        if line in parameters:
            index = DUMP_PARAMETERS[mnemonic[len(":diag1"):]]
            expected.append((CARD[1] + 0x07, [1, index] + float_bytes(f32(float(value)))))
        else:
            group, index, element = value.split(",")
            expected.append((CARD[1] + 0x08, [2, table_number(mnemonic, int(group)), int(index)]
                             + float_bytes(f32(float(element)))))
    bus.wait_for(since, expected, timeout=30)
    assert scpi.query(":SYST:ERR?") == '0,"No error"'


def test_probe_reports_and_the_memory_dump(scpi):
    for command, title in ((":DIAG1:REP:PROB?", "Channel 1 General Probe Data"),
                           (":DIAG1:REP:PROB:DCL?", "Probe DC Linearity Factors"),
                           (":DIAG1:REP:PROB:ACFR?", "Probe AC Frequency Correction Factors")):
        report = answer(scpi, command)
        assert any(title in line for line in report[:3]), (command, report[:3])
    started = time.monotonic()
    report = answer(scpi, ":DIAG1:REP:PROB:MEM?")
    assert time.monotonic() - started >= 1.0
    assert any("Probe Memory Dump" in line for line in report[:3])


def test_bootload_report_one_duration_per_line(inst, scpi):
    path = inst.file("/var/lib/tarvel/bootload.log")
    if os.path.exists(path):
        os.remove(path)
    assert answer(scpi, ":DIAG:BOOT?") == NO_REPLY
    with open(path, "w") as f:
        f.write("812\n790\n805\n")
    assert answer(scpi, ":DIAG:BOOT?") == ["812", "790", "805"]
