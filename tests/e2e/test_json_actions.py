"""The web interface's JSON port of tvl4700 against mendra's three cards:
every action, sent as the web interface sends them (one JSON text per line on
a plain socket), with good and bad values, the channel poll in its states
(reading, AC, over range, zeroing, no card), and the data logs in the
sandbox's data-log folder."""
import os
import re
import socket

import pytest

from instrument import Instrument
from jsonclient import JsonClient
from menu_screen import BACK, MenuScreen
from menu_table import TREE
from scpiclient import open_session

ALL_ACTIONS = {
    "setRange", "setAutorange", "setMode", "setFreqRange", "pollChannel", "getModelNumber", "pollMeter",
    "setFluxUnits", "setAngleUnits", "setTimeUnits", "setTempUnits", "setHoldState", "startDataLogging",
    "stopDataLogging", "cancelDataLogging", "deleteDataLogFiles", "getDataLogRowCount", "getSystemInfo",
    "setUpdateRate", "setZeroMode", "doZero", "setAutoRelative", "setManualRelative", "disableRelative",
    "getRangeList", "setVsumHoldState", "setVsumAutoRelative", "setVsumManualRelative", "disableVsumRelative",
}
OK = {"success": True}
FAIL = {"success": False}
READING = re.compile(r"^-?\d+\.\d+(mG|G|kG)$")
# A DC channel with a ready probe, no hold, no zero running, relative off.
READY_MEMBERS = {"autorange", "clipped", "fluxReading", "fluxUnits", "freqRange", "holdActive", "mode",
                 "probeAxis", "probeState", "probeTemp", "range", "relativeMode", "tempUnits", "valid",
                 "zeroMode", "zeroingState"}
METER_MEMBERS = {"flux", "angle", "time", "temp", "displayRate", "vsum"}


@pytest.fixture(scope="module")
def inst():
    with Instrument(frontpanel=True) as instrument:
        instrument.wait_ready()
        yield instrument


@pytest.fixture(scope="module")
def web(inst):
    inst.wait_probes_ready()
    with JsonClient(inst.json_port()) as client:
        yield client
        assert inst.tvl().running()


def poll(web, channel):
    return web.ask("pollChannel", channel=channel)


def test_poll_channel_in_each_slot(web):
    for slot, axis in ((1, "X"), (2, "Y"), (3, "Z")):
        r = poll(web, slot)
        assert set(r) == READY_MEMBERS, slot
        assert READING.match(r["fluxReading"]), r
        assert r["valid"] is True and r["probeState"] == 2 and r["probeAxis"] == axis
        assert r["mode"] == 0 and r["fluxUnits"] == 0 and r["zeroMode"] == 4 and r["zeroingState"] == 3
        assert r["tempUnits"] == "C" and re.match(r"^-?\d+\.\d$", r["probeTemp"])
        assert isinstance(r["clipped"], int) and not isinstance(r["clipped"], bool)
        assert isinstance(r["range"], int) and isinstance(r["autorange"], bool)
    for bad in (0, 4, -3):
        assert poll(web, bad) == FAIL


def test_ranges_and_mode(web):
    assert web.ask("getRangeList", channel=2) == [
        {"name": "30G", "value": 0}, {"name": "300G", "value": 1},
        {"name": "3kG", "value": 2}, {"name": "30kG", "value": 3}]
    assert web.ask("getRangeList", channel=5) == FAIL

    assert web.ask("setRange", channel=2, range=1) == OK
    web.poll_until(lambda r: r["range"] == 1 and r["autorange"] is False, "pollChannel", channel=2)
    assert web.ask("setRange", channel=2, range=7) == FAIL        # no probe has it: refused, as over SCPI
    assert web.ask("setRange", channel=2, range=-1) == FAIL
    assert poll(web, 2)["range"] == 1
    assert web.ask("setRange", channel=4, range=1) == FAIL
    assert web.ask("setAutorange", channel=2, autorange=True) == OK
    web.poll_until(lambda r: r["autorange"] is True, "pollChannel", channel=2)

    assert web.ask("setMode", channel=2, mode=2) == FAIL
    assert web.ask("setMode", channel=2, mode=1) == OK
    r = web.poll_until(lambda r: r["mode"] == 1 and "signalFreq" in r, "pollChannel", channel=2)
    assert re.match(r"^\d+\.\d+ (Hz|kHz)$", r["signalFreq"]), r
    assert web.ask("setFreqRange", channel=2, range=6) == FAIL
    assert web.ask("setFreqRange", channel=2, range=3) == OK
    web.poll_until(lambda r: r["freqRange"] == 3, "pollChannel", channel=2)
    assert web.ask("setFreqRange", channel=2, range=0) == OK
    web.poll_until(lambda r: r["freqRange"] == 0, "pollChannel", channel=2)   # each command sends both
    assert web.ask("setMode", channel=2, mode=0) == OK
    web.poll_until(lambda r: r["mode"] == 0 and r["freqRange"] == 0 and "signalFreq" not in r and r["valid"],
                   "pollChannel", channel=2)


def test_units_rate_and_zero_mode(web):
    assert web.ask("setFluxUnits", units=4) == FAIL
    assert web.ask("setFluxUnits", units=1) == OK
    r = web.poll_until(lambda r: r["valid"] and r["fluxReading"].endswith("T"), "pollChannel", channel=3)
    assert r["fluxUnits"] == 1
    assert web.ask("getRangeList", channel=3)[0] == {"name": "3mT", "value": 0}
    assert web.ask("pollMeter")["flux"] == 1
    assert web.ask("setFluxUnits", units=0) == OK

    assert web.ask("setTempUnits", units=3) == FAIL
    assert web.ask("setTempUnits", units=0) == OK
    assert all(poll(web, slot)["tempUnits"] == "F" for slot in (1, 2, 3))
    assert web.ask("setTempUnits", units=1) == OK

    assert web.ask("setTimeUnits", units=2) == FAIL
    assert web.ask("setTimeUnits", units=1) == OK
    assert web.ask("pollMeter")["time"] == 1
    assert web.ask("setTimeUnits", units=0) == OK

    assert web.ask("setAngleUnits", units=2) == FAIL
    assert web.ask("setAngleUnits", units=1) == OK
    r = web.ask("pollMeter", vsum=True)
    assert r["angle"] == 1 and r["angleUnits"] == 1 and re.match(r"^-?\d\.\d{3}$", r["xAngle"]), r
    assert web.ask("setAngleUnits", units=0) == OK

    assert web.ask("setUpdateRate", rate=0.1) == FAIL
    assert web.ask("setUpdateRate", rate=2.0) == OK
    assert web.ask("pollMeter")["displayRate"] == 2.0
    assert web.ask("setUpdateRate", rate=1.0) == OK

    assert web.ask("setZeroMode", channel=1, mode=3) == FAIL
    assert web.ask("setZeroMode", channel=1, mode=1) == OK
    assert poll(web, 1)["zeroMode"] == 1
    assert web.ask("setZeroMode", channel=1, mode=4) == OK
    assert web.ask("setZeroMode", channel=0, mode=4) == FAIL


def test_update_rate_reads_alike_on_the_menu_scpi_and_json(inst, web):
    """A rate between the offered ones is taken as the one that stands for
    it: the Update Rate menu marks its row, :DISP:RATE? answers its code and
    pollMeter reports it."""
    screen = MenuScreen(inst)
    screen.wait_for(*TREE["main"][:2], what="at start")
    title, labels, _ = TREE["rate"]
    screen.press(3, 1)   # Display > Update Rate
    screen.wait_for(title, labels, [2], what="1/sec at start")
    scpi = open_session(inst.scpi_port())
    try:
        # (rate asked for, the menu's row, the SCPI code, the rate taken)
        for rate, row, code, taken in ((0.8, 2, "1", 1.0), (0.7, 3, "0", 0.5), (3.9, 1, "2", 2.0),
                                       (4.2, 0, "3", 5.0), (1.0, 2, "1", 1.0)):
            assert web.ask("setUpdateRate", rate=rate) == OK
            screen.wait_for(title, labels, [row], what="rate %s" % rate)
            assert scpi.query(":DISP:RATE?") == code, rate
            assert web.ask("pollMeter")["displayRate"] == taken, rate
    finally:
        scpi.close()
    screen.press(BACK, BACK)
    screen.wait_for(*TREE["main"][:2], what="back at Main")


def test_holds_and_relative(web):
    assert web.ask("setHoldState", channel=1, which="overall", enabled=True) == OK
    assert web.ask("setHoldState", channel=1, which="max", enabled=True) == OK
    assert web.ask("setHoldState", channel=1, which="sideways", enabled=True) == FAIL
    r = poll(web, 1)
    assert r["holdActive"] is True and r["maxHoldEnabled"] is True and r["minHoldEnabled"] is False
    assert re.match(r"^-?\d+\.\d+$", r["maxHoldValue"]) and "minHoldValue" not in r
    assert web.ask("setHoldState", channel=1, which="reset") == OK
    assert web.ask("setHoldState", channel=1, which="max", enabled=False) == OK
    assert web.ask("setHoldState", channel=1, which="overall", enabled=False) == OK
    assert set(poll(web, 1)) == READY_MEMBERS

    assert web.ask("setAutoRelative", channel=2) == OK
    r = poll(web, 2)
    assert r["relativeMode"] is True and "relativeOffset" in r
    assert web.ask("disableRelative", channel=2) == OK
    assert "relativeOffset" not in poll(web, 2)

    for vsum in (None, False):
        r = web.ask("pollMeter") if vsum is None else web.ask("pollMeter", vsum=vsum)
        assert set(r) == METER_MEMBERS and r["vsum"] is False
    assert web.ask("setVsumHoldState", which="overall", enabled=True) == OK
    assert web.ask("setVsumHoldState", which="min", enabled=True) == OK
    assert web.ask("setVsumHoldState", which="peak", enabled=True) == FAIL
    assert web.ask("setVsumHoldState", which="reset") == OK
    assert web.ask("setVsumManualRelative", offset=0.5) == OK
    r = web.ask("pollMeter", vsum=True)
    assert r["holdActive"] is True and r["minHoldEnabled"] is True and "minHoldValue" in r
    assert r["maxHoldEnabled"] is False and "maxHoldValue" not in r
    # 0.5 in the display unit of the vector sum's range, which follows the
    # channels' ranges: it may have moved since.
    assert r["relativeMode"] is True and float(r["relativeOffset"]) > 0
    assert READING.match(r["vsumValue"]) and re.match(r"^-?\d+\.\d\d$", r["yAngle"])
    assert web.ask("setVsumAutoRelative") == OK
    assert web.ask("pollMeter", vsum=True)["relativeMode"] is True
    assert web.ask("disableVsumRelative") == OK
    assert web.ask("setVsumHoldState", which="overall", enabled=False) == OK
    r = web.ask("pollMeter", vsum=True)
    assert r["relativeMode"] is False and r["holdActive"] is False and "minHoldEnabled" not in r


def test_over_range_in_dc(web):
    """A relative offset just inside 1.1 x full scale pushes about every other
    reading of the noisy card past the over-range limit, downwards."""
    assert web.ask("setAutorange", channel=3, autorange=False) == OK
    for exponent in range(6, -7, -1):
        offset = 3.29999 * 10 ** exponent
        assert web.ask("setManualRelative", channel=3, offset=offset) == OK
        r = poll(web, 3)
        if r["relativeMode"] and abs(float(r["relativeOffset"]) - offset) <= 1e-3 * offset:
            break
    else:
        pytest.fail("no offset was taken")
    web.poll_until(lambda r: r["fluxReading"] == "-Overrange" and r["valid"] is False, "pollChannel", channel=3)
    assert web.ask("disableRelative", channel=3) == OK
    assert web.ask("setAutorange", channel=3, autorange=True) == OK
    web.poll_until(lambda r: r["valid"], "pollChannel", channel=3)


def test_model_and_versions(web):
    assert web.ask("getModelNumber") == {"model": "4730"}
    # The meter asks the front panel and the power supply for their versions
    # on its 20 s status tick.
    r = web.poll_until(lambda r: "unknown" not in (r["fpFirmwareVersion"], r["psuFirmwareVersion"]),
                       "getSystemInfo", timeout=60)
    assert r["model"] == "4730" and r["firmwareVersion"] == "1.6.1"
    assert re.match(r"^\d+\.\d+$", r["fpFirmwareVersion"]) and re.match(r"^\d+\.\d+$", r["psuFirmwareVersion"])


def test_data_logging(inst, web):
    folder = inst.file("/var/www/datalogs")
    outside = inst.file("/var/www/keep.csv")
    with open(outside, "w") as f:
        f.write("x\n")

    assert web.ask("startDataLogging") == OK
    assert web.ask("startDataLogging") == OK               # the running log is left alone
    web.poll_until(lambda r: r["rows"] >= 3, "getDataLogRowCount", timeout=60)
    stop = web.ask("stopDataLogging")
    assert stop["success"] is True and re.match(r"^/datalogs/data\d{4}\.csv$", stop["filename"]), stop
    name = os.path.basename(stop["filename"])
    rows_at_stop = web.ask("getDataLogRowCount")["rows"]
    assert web.ask("stopDataLogging") == FAIL               # no log runs: nothing to stop
    assert sorted(os.listdir(folder)) == [name]

    with open(os.path.join(folder, name)) as f:
        lines = f.read().splitlines()
    header = lines[0].split(",")
    assert header[0] == "Timestamp"
    assert [h for h in header if "Flux" in h] == ["CH1 Flux G DC", "CH2 Flux G DC", "CH3 Flux G DC"]
    rows = lines[1:]
    assert len(rows) >= max(rows_at_stop, 3)
    for row in rows:
        fields = row.split(",")
        assert len(fields) == len(header), row
        assert re.match(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$", fields[0]), row
        for h, value in zip(header, fields):
            if "Flux" in h or "Temp" in h:
                float(value)

    assert web.ask("startDataLogging") == OK
    second = [n for n in os.listdir(folder) if n != name]
    assert len(second) == 1
    assert web.ask("cancelDataLogging") == OK
    assert sorted(os.listdir(folder)) == [name]

    assert web.ask("deleteDataLogFiles", filenames=name) == OK           # not an array: nothing
    assert web.ask("deleteDataLogFiles", filenames=["../keep.csv", "/var/www/keep.csv", "..", ""]) == OK
    assert os.path.exists(outside) and os.listdir(folder) == [name]
    assert web.ask("deleteDataLogFiles", filenames=["missing.csv", name]) == OK
    assert os.listdir(folder) == [] and os.path.exists(outside)


def test_deleting_never_takes_the_running_log(inst, web):
    """The running log's file stays whatever deletes the logs (JSON naming
    it, :MMEM:DEL:ALL): the others go, the one kept is reported, and the log
    goes on writing its rows to it."""
    inst.wait_probes_ready()
    folder = inst.file("/var/www/datalogs")
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    assert web.ask("startDataLogging") == OK
    [running] = os.listdir(folder)
    for other in ("a.csv", "b.csv"):
        with open(os.path.join(folder, other), "w") as f:
            f.write("x\n")

    assert web.ask("deleteDataLogFiles", filenames=["a.csv", running]) == FAIL
    assert sorted(os.listdir(folder)) == sorted([running, "b.csv"])
    scpi = open_session(inst.scpi_port())
    try:
        scpi.write("*CLS")
        scpi.write(":MMEM:DEL:ALL")
        assert scpi.query(":SYST:ERR?") == \
            '-200,"Execution error; data log %s not deleted: the log is running"' % running
        assert scpi.query(":SYST:ERR?") == '0,"No error"'
    finally:
        scpi.close()
    assert os.listdir(folder) == [running]

    rows = web.ask("getDataLogRowCount")["rows"]
    web.poll_until(lambda r: r["rows"] > rows, "getDataLogRowCount", timeout=30)
    stop = web.ask("stopDataLogging")
    assert stop == {"success": True, "filename": "/datalogs/" + running}, stop
    with open(os.path.join(folder, running)) as f:
        assert len(f.read().splitlines()) == 1 + web.ask("getDataLogRowCount")["rows"]
    assert web.ask("deleteDataLogFiles", filenames=[running]) == OK    # stopped: it goes
    assert os.listdir(folder) == []


def test_zeroing(web):
    assert web.ask("doZero", channel=7) == FAIL
    assert web.ask("doZero", channel=1) == OK
    first = web.poll_until(lambda r: r["zeroingState"] == 1 and "zeroingProgress" in r, "pollChannel", channel=1)
    assert first["fluxReading"] == "Zeroing..." and first["valid"] is False
    later = web.poll_until(lambda r: r.get("zeroingProgress", 0) > first["zeroingProgress"], "pollChannel",
                           channel=1)
    assert 0 < later["zeroingProgress"] <= 1


def test_requests_that_get_no_reply(inst, web):
    """Bad lines and requests that name no action get no reply and the
    connection goes on; a client that goes before its reply leaves the
    program running."""
    web.send_raw(b"\n" + b"not json\n" + b"[1,2]\n" + b'{"action":["pollChannel"],"channel":1}\n'
                 + b'{"action":"noSuchAction"}\n' + b"{" + b" " * 3000 + b"}\n"
                 + b'{"action":"getModelNumber"}\r\n')
    assert web.read_reply() == {"model": "4730"}
    for _ in range(5):
        gone = socket.create_connection(("127.0.0.1", inst.json_port()))
        gone.sendall(b'{"action":"pollMeter","vsum":true}\n' * 20)
        gone.close()
    assert web.ask("getModelNumber") == {"model": "4730"}
    assert inst.tvl().running()


def test_members_missing_or_of_the_wrong_type_are_answered(web):
    """A missing member reads as 0, false, 0.0 or "" (no channel is channel
    0); one of the wrong type fails the request and changes nothing."""
    def request(line):
        web.send_raw(line.encode() + b"\n")
        return web.read_reply()

    assert request('{"action":"pollChannel"}') == FAIL
    assert request('{"action":"getRangeList"}') == FAIL
    assert set(request('{"action":"pollMeter"}')) == METER_MEMBERS
    assert request('{"action":"setTimeUnits","units":1}') == OK
    assert request('{"action":"setTimeUnits"}') == OK
    assert web.ask("pollMeter")["time"] == 0
    before, rate = poll(web, 2), web.ask("pollMeter")["displayRate"]
    for line in ('{"action":"pollChannel","channel":"one"}',
                 '{"action":"setAutorange","channel":2,"autorange":"%s"}' % (not before["autorange"]),
                 '{"action":"setFluxUnits","units":[1]}', '{"action":"setManualRelative","channel":2,"offset":"7"}',
                 '{"action":"pollMeter","vsum":"yes"}', '{"action":"setUpdateRate","rate":1e300}'):
        assert request(line) == FAIL, line
    after = poll(web, 2)
    for member in ("autorange", "fluxUnits", "relativeMode"):
        assert after[member] == before[member], (member, before, after)
    assert web.ask("pollMeter")["displayRate"] == rate


def test_members_the_library_would_convert_change_nothing(web):
    """true is no integer, 1.5 no channel, 1 no flag: each such member fails
    the request and changes nothing (the library would take true as 1 and
    cut 1.5 to 1); a whole number written as a real is an integer."""
    def request(line):
        web.send_raw(line.encode() + b"\n")
        return web.read_reply()

    def mode_after_a_card_request(freq_range):
        # The next mode and frequency-range command carries any mode still
        # asked for: once its reply is in, the mode shows what was taken.
        assert web.ask("setFreqRange", channel=2, range=freq_range) == OK
        return web.poll_until(lambda r: r["freqRange"] == freq_range, "pollChannel", channel=2)["mode"]

    assert request('{"action":"setMode","channel":2,"mode":true}') == FAIL
    assert mode_after_a_card_request(2) == 0
    assert web.ask("setMode", channel=2, mode=1) == OK
    web.poll_until(lambda r: r["mode"] == 1, "pollChannel", channel=2)
    for line in ('{"action":"setMode","channel":2,"mode":0.5}', '{"action":"setMode","channel":2,"mode":false}',
                 '{"action":"setMode","channel":2,"mode":null}'):
        assert request(line) == FAIL, line
    assert mode_after_a_card_request(0) == 1
    assert request('{"action":"setMode","channel":2.0,"mode":0}') == OK
    web.poll_until(lambda r: r["mode"] == 0, "pollChannel", channel=2)

    before, meter = poll(web, 1), web.ask("pollMeter")
    assert before["autorange"] is True
    for line in ('{"action":"setAutorange","channel":1.5,"autorange":false}',
                 '{"action":"setAutorange","channel":true,"autorange":false}',
                 '{"action":"setAutorange","channel":1,"autorange":0}',
                 '{"action":"setHoldState","channel":1,"which":"overall","enabled":1}',
                 '{"action":"setUpdateRate","rate":true}', '{"action":"setFluxUnits","units":true}',
                 '{"action":"setTempUnits","units":1.5}', '{"action":"pollChannel","channel":true}',
                 '{"action":"pollMeter","vsum":1}'):
        assert request(line) == FAIL, line
    after = poll(web, 1)
    for member in ("autorange", "holdActive", "fluxUnits", "tempUnits"):
        assert after.get(member) == before.get(member), (member, before, after)
    assert web.ask("pollMeter") == meter


def test_every_action_was_sent(web):
    assert web.actions == ALL_ACTIONS


def test_slots_without_cards():
    with Instrument(mendra=False) as inst:
        inst.wait_ready()
        with JsonClient(inst.json_port()) as web:
            assert web.ask("getModelNumber") == {"model": "4710"}
            for slot in (1, 2, 3):
                r = web.ask("pollChannel", channel=slot)
                assert r["fluxReading"] == "No card present" and r["valid"] is False, r
                assert {"autorange", "range", "mode", "freqRange", "holdActive", "zeroMode", "zeroingState",
                        "relativeMode", "probeState", "fluxUnits", "clipped"} <= set(r)
            assert web.ask("startDataLogging") == FAIL          # no probe
            assert web.ask("doZero", channel=2) == FAIL
