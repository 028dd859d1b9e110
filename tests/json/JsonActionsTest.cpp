// The actions against a meter model of the test's own, its channels driven
// the way their cards would (hello, probe, samples, mode and zeroing
// reports): the channel and meter polls in each of their states, the micro
// sign, every setter with good and bad values, and the data-log actions.
#include "JsonTestSupport.h"

#include "channel/ChannelModel.h"
#include "platform/Platform.h"
#include "ranges/RangeSpec.h"
#include "runtime/FileIoManager.h"
#include "status/ScpiErrorQueue.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <functional>
#include <set>
#include <sys/stat.h>

using namespace jsontest;

namespace {

using testsupport::exists;

std::set<std::string> members(const Json::Value& o) {
    std::set<std::string> names;
    for (const std::string& n : o.getMemberNames()) names.insert(n);
    return names;
}

Json::Value request(const char* action) {
    Json::Value r(Json::objectValue);
    r["action"] = action;
    return r;
}

Json::Value request(const char* action, int channel) {
    Json::Value r = request(action);
    r["channel"] = channel;
    return r;
}

const Json::Value kSuccess = parse(R"({"success":true})");
const Json::Value kFailure = parse(R"({"success":false})");

// Brings a channel to "probe ready" as its card would: hello reply, probe
// found and settled.  probeClass: the class in the probe's configuration.
void makeReady(ChannelModel& ch, int probeClass = 3) {
    ch.onHelloReply();
    const char configuration[7] = {2, 1, 3, 1, 0, 0, static_cast<char>(probeClass)};
    ch.getProbe().onProbeData(6, configuration);   // probe-data item 6: configuration
    ch.onProbeChanged(2);
    ch.onProbeSettled();
    ASSERT_EQ(ch.getChannelStatus(), kChannelProbeReady);
}

// Feeds samples of one value until the channel has made readings of it
// (after the samples it skips when it settles).
void feed(ChannelModel& ch, float gauss) {
    for (int i = 0; i < 2000; ++i) ch.onSample(gauss, 0);
}

class JsonActions : public ::testing::Test {
protected:
    ConnectionFixture f;
    ChannelModel& ch1 = *f.meter.getChannel(1);
    ChannelModel& ch2 = *f.meter.getChannel(2);

    Json::Value ask(const Json::Value& r) { return f.client->ask(r); }
    Json::Value poll(int channel) { return ask(request("pollChannel", channel)); }
};

TEST_F(JsonActions, PollChannelOfASlotWithNoCard) {
    const Json::Value o = poll(1);
    EXPECT_EQ(members(o), (std::set<std::string>{"autorange", "clipped", "fluxReading", "fluxUnits", "freqRange",
                                                 "holdActive", "mode", "probeAxis", "probeState", "range",
                                                 "relativeMode", "valid", "zeroMode", "zeroingState"}));
    EXPECT_EQ(o["fluxReading"], "No card present");
    EXPECT_EQ(o["valid"], false);
    EXPECT_EQ(o["probeState"], kChannelStarting);
    EXPECT_EQ(o["probeAxis"], "SINGLE");
    EXPECT_TRUE(o["clipped"].isInt());

    for (int bad : {0, 4, -1}) EXPECT_EQ(poll(bad), kFailure) << bad;

    ch1.onHelloReply();
    ch1.onStartupTimeout();
    EXPECT_EQ(poll(1)["fluxReading"], "No probe connected");
    ch1.onProbeChanged(1);
    EXPECT_EQ(poll(1)["fluxReading"], "Configuring probe");
}

TEST_F(JsonActions, ZeroingIsReportedEvenWithoutACard) {
    ch2.setZeroingState(kZeroing);
    ch2.onZeroingProgress(37.5f);
    const Json::Value o = poll(2);
    EXPECT_EQ(o["fluxReading"], "Zeroing...");
    EXPECT_EQ(o["valid"], false);
    EXPECT_EQ(o["zeroingState"], kZeroing);
    EXPECT_DOUBLE_EQ(o["zeroingProgress"].asDouble(), 0.375);
    ch2.setZeroingState(kZeroed);
    EXPECT_FALSE(poll(2).isMember("zeroingProgress"));
}

TEST_F(JsonActions, PollChannelReadingsOverRangeHoldsRelativeAndAcMode) {
    makeReady(ch1);
    ch1.setAutorange(false);
    ch1.onRangeReply(0);
    Json::Value o = poll(1);
    EXPECT_EQ(o["probeState"], kChannelProbeReady);
    EXPECT_EQ(o["fluxReading"], "Configuring probe") << "ready, no reading yet: no placeholder 0";
    EXPECT_EQ(o["valid"], false);
    EXPECT_EQ(o["range"], 0);

    // An over-range reading while the last value is exactly 0 counts as negative.
    feed(ch1, 1.0e7f);
    ASSERT_TRUE(ch1.isOverRange());
    o = poll(1);
    EXPECT_EQ(o["fluxReading"], "-Overrange");
    EXPECT_EQ(o["valid"], false);

    feed(ch1, 12.5f);
    o = poll(1);
    EXPECT_EQ(o["fluxReading"], "12.5000G");
    EXPECT_EQ(o["valid"], true);
    EXPECT_EQ(o["autorange"], false);
    EXPECT_FALSE(o.isMember("signalFreq")) << "DC mode";
    feed(ch1, 1.0e7f);
    EXPECT_EQ(poll(1)["fluxReading"], "+Overrange");

    ch1.onModeReply(1, 2, 610.0f);
    ch1.onFrequency(50.0f);
    o = poll(1);
    EXPECT_EQ(o["fluxReading"], "Overrange") << "AC mode has no sign";
    EXPECT_EQ(o["mode"], 1);
    EXPECT_EQ(o["freqRange"], 2);
    EXPECT_EQ(o["signalFreq"], "50.0 Hz");
    ch1.onModeReply(0, 2, 610.0f);

    feed(ch1, 10.0f);
    EXPECT_EQ(ask([] {
                  Json::Value r = request("setHoldState", 1);
                  r["which"] = "overall";
                  r["enabled"] = true;
                  return r;
              }()),
              kSuccess);
    ch1.setMaxHoldEnabled(true);
    o = poll(1);
    EXPECT_EQ(o["holdActive"], true);
    EXPECT_EQ(o["maxHoldEnabled"], true);
    EXPECT_EQ(o["maxHoldValue"], "12.5000");
    EXPECT_EQ(o["minHoldEnabled"], false);
    EXPECT_FALSE(o.isMember("minHoldValue"));
    EXPECT_TRUE(o.isMember("peakHoldEnabled") && o.isMember("valleyHoldEnabled"));

    Json::Value manual = request("setManualRelative", 1);
    manual["offset"] = 2.5;
    EXPECT_EQ(ask(manual), kSuccess);
    o = poll(1);
    EXPECT_EQ(o["relativeMode"], true);
    EXPECT_EQ(o["relativeOffset"], "2.5000");
    EXPECT_FLOAT_EQ(ch1.getRelativeOffset(), 2.5f);   // gauss on the 30 G range
    EXPECT_EQ(ask(request("disableRelative", 1)), kSuccess);
    EXPECT_FALSE(poll(1).isMember("relativeOffset"));
}

TEST_F(JsonActions, MicroSignsAreUInNamesAndUtf8ElsewhereAndInvalidRangesAreSkipped) {
    ChannelModel& ch3 = *f.meter.getChannel(3);
    makeReady(ch1, 1);
    makeReady(ch2, 1);
    makeReady(ch3, 1);
    EXPECT_EQ(ask([] {
                  Json::Value r = request("setFluxUnits");
                  r["units"] = 1;
                  return r;
              }()),
              kSuccess);
    ch1.onRangeReply(0);
    EXPECT_EQ(ask(request("getRangeList", 1)), parse(R"([{"name":"30uT","value":0},{"name":"300uT","value":1}])"));
    EXPECT_EQ(ask(request("getRangeList", 9)), kFailure);

    for (ChannelModel* ch : {&ch1, &ch2, &ch3}) feed(*ch, 0.05f);
    const std::string reading = poll(1)["fluxReading"].asString();
    EXPECT_EQ(reading.substr(reading.size() - 2), "uT");

    Json::Value meterPoll = request("pollMeter");
    meterPoll["vsum"] = true;
    ASSERT_TRUE(f.client->send(line(meterPoll) + "\n"));
    std::string raw;
    ASSERT_TRUE(f.client->readLine(raw));
    EXPECT_NE(raw.find("\\u00b5T\""), std::string::npos) << raw;   // the reply itself is plain ASCII
    const std::string vsum = parse(raw)["vsumValue"].asString();
    EXPECT_EQ(vsum.substr(vsum.size() - 3), "\xC2\xB5T");
}

TEST_F(JsonActions, PollMeter) {
    const std::set<std::string> plain{"angle", "displayRate", "flux", "temp", "time", "vsum"};
    EXPECT_EQ(members(ask(request("pollMeter"))), plain);
    Json::Value r = request("pollMeter");
    r["vsum"] = false;
    const Json::Value o = ask(r);
    EXPECT_EQ(members(o), plain);
    EXPECT_EQ(o["vsum"], false);
    EXPECT_EQ(o["temp"], 1);
    EXPECT_DOUBLE_EQ(o["displayRate"].asDouble(), 1.0);

    // The sum of three channels with readings.
    ChannelModel& ch3 = *f.meter.getChannel(3);
    for (ChannelModel* ch : {&ch1, &ch2, &ch3}) {
        makeReady(*ch);
        feed(*ch, 0.0f);
    }
    f.meter.setAngleUnits(1);
    f.meter.setVectorSumHoldActive(true);
    f.meter.setVectorSumMinHoldEnabled(true);
    f.meter.setVectorSumRelativeOffset(3.0f);
    f.meter.setVectorSumManualRelative();
    r["vsum"] = true;
    const Json::Value v = ask(r);
    EXPECT_EQ(members(v), (std::set<std::string>{"angle", "angleUnits", "displayRate", "flux", "holdActive",
                                                 "maxHoldEnabled", "minHoldEnabled", "minHoldValue",
                                                 "relativeMode", "relativeOffset", "temp", "time", "vsum",
                                                 "vsumValue", "xAngle", "yAngle", "zAngle"}));
    EXPECT_EQ(v["angleUnits"], 1);
    EXPECT_EQ(v["xAngle"], "0.000") << "radians are printed with 3 decimals";
    EXPECT_EQ(v["relativeOffset"], "0.0030");

    // A channel without a reading: the sum says what that channel says, and
    // has no angles.  Channel 2 loses its card; channel 1's probe settles
    // again and has given no reading since.
    ch2.markNoCard();
    Json::Value gone = ask(r);
    EXPECT_EQ(gone["vsumValue"], "No card present");
    EXPECT_EQ(gone["xAngle"], "");
    EXPECT_EQ(gone["yAngle"], "");
    EXPECT_EQ(gone["zAngle"], "");
    makeReady(ch2);
    feed(ch2, 0.0f);
    ch1.onProbeChanged(2);
    ch1.onProbeSettled();
    EXPECT_EQ(ask(r)["vsumValue"], "Configuring probe");
    feed(ch1, 0.0f);
    EXPECT_EQ(ask(r)["xAngle"], "0.000");
}

TEST_F(JsonActions, ModelNumberAndSystemInfo) {
    EXPECT_EQ(ask(request("getModelNumber")), parse(R"({"model":"4710"})"));
    f.meter.threeChannelModel = true;
    EXPECT_EQ(ask(request("getModelNumber")), parse(R"({"model":"4730"})"));
    EXPECT_EQ(ask(request("getSystemInfo")),
              parse(R"({"model":"4730","firmwareVersion":"1.6.1","fpFirmwareVersion":"unknown","psuFirmwareVersion":"unknown"})"));
}

TEST_F(JsonActions, SettersAnswerWhatTheyDid) {
    struct Case {
        const char* request;
        bool success;
        std::function<bool()> effect;   // holds afterwards
    };
    ChannelModel& ch3 = *f.meter.getChannel(3);
    const std::vector<Case> cases = {
        // A range no probe has is refused, as over SCPI.
        {R"({"action":"setRange","channel":1,"range":7})", false, [&] { return ch1.getRange() == 3 && ch1.isAutorange(); }},
        {R"({"action":"setRange","channel":1,"range":-1})", false, [&] { return ch1.getRange() == 3 && ch1.isAutorange(); }},
        {R"({"action":"setRange","channel":0,"range":1})", false, [] { return true; }},
        {R"({"action":"setAutorange","channel":2,"autorange":false})", true, [&] { return !ch2.isAutorange(); }},
        {R"({"action":"setAutorange","channel":4,"autorange":true})", false, [&] { return !ch2.isAutorange(); }},
        {R"({"action":"setMode","channel":1,"mode":1})", true, [] { return true; }},
        {R"({"action":"setMode","channel":1,"mode":2})", false, [] { return true; }},
        {R"({"action":"setFreqRange","channel":1,"range":5})", true, [] { return true; }},
        {R"({"action":"setFreqRange","channel":1,"range":6})", false, [] { return true; }},
        {R"({"action":"setFreqRange","channel":1,"range":-1})", false, [] { return true; }},
        {R"({"action":"setFluxUnits","units":3})", true, [&] { return ch1.getFluxUnits() == 3 && ch3.getFluxUnits() == 3; }},
        {R"({"action":"setFluxUnits","units":4})", false, [&] { return ch2.getFluxUnits() == 3; }},
        {R"({"action":"setTempUnits","units":2})", true, [&] { return ch1.getTemperatureUnits() == 2 && ch3.getTemperatureUnits() == 2; }},
        {R"({"action":"setTempUnits","units":3})", false, [&] { return ch2.getTemperatureUnits() == 2; }},
        {R"({"action":"setTimeUnits","units":1})", true, [&] { return ch2.getTimeUnits() == 1; }},
        {R"({"action":"setTimeUnits","units":2})", false, [&] { return ch2.getTimeUnits() == 1; }},
        {R"({"action":"setAngleUnits","units":1})", true, [&] { return f.meter.getAngleUnits() == 1; }},
        {R"({"action":"setAngleUnits","units":-1})", false, [&] { return f.meter.getAngleUnits() == 1; }},
        {R"({"action":"setZeroMode","channel":3,"mode":1})", true, [&] { return ch3.getZeroMode() == 1; }},
        {R"({"action":"setZeroMode","channel":3,"mode":2})", false, [&] { return ch3.getZeroMode() == 1; }},
        {R"({"action":"setZeroMode","channel":3,"mode":0})", true, [&] { return ch3.getZeroMode() == 0; }},
        {R"({"action":"setUpdateRate","rate":2.0})", true, [&] { return f.meter.getDisplayRate() == 2.0f; }},
        {R"({"action":"setUpdateRate","rate":0.25})", false, [&] { return f.meter.getDisplayRate() == 2.0f; }},
        {R"({"action":"setUpdateRate","rate":6})", false, [&] { return f.meter.getDisplayRate() == 2.0f; }},
        // A rate between the offered ones is taken as the one that stands for it.
        {R"({"action":"setUpdateRate","rate":0.8})", true, [&] { return f.meter.getDisplayRate() == 1.0f; }},
        {R"({"action":"setUpdateRate","rate":0.7})", true, [&] { return f.meter.getDisplayRate() == 0.5f; }},
        {R"({"action":"setUpdateRate","rate":3.9})", true, [&] { return f.meter.getDisplayRate() == 2.0f; }},
        {R"({"action":"doZero","channel":1})", false, [&] { return ch1.getZeroingState() != kZeroing; }},
        {R"({"action":"setHoldState","channel":1,"which":"peak","enabled":true})", true, [&] { return ch1.isPeakHoldEnabled(); }},
        {R"({"action":"setHoldState","channel":1,"which":"valley","enabled":true})", true, [&] { return ch1.isValleyHoldEnabled(); }},
        {R"({"action":"setHoldState","channel":1,"which":"reset"})", true, [] { return true; }},
        {R"({"action":"setHoldState","channel":1,"which":"sideways","enabled":true})", false, [] { return true; }},
        {R"({"action":"setVsumHoldState","which":"max","enabled":true})", true, [&] { return f.meter.isVectorSumMaxHoldEnabled(); }},
        {R"({"action":"setVsumHoldState","which":"peak","enabled":true})", false, [] { return true; }},
        {R"({"action":"setVsumHoldState","which":"reset"})", true, [] { return true; }},
        {R"({"action":"setVsumManualRelative","offset":4})", true, [&] { return f.meter.getVectorSumRelativeState() == 2; }},
        {R"({"action":"setVsumAutoRelative"})", true, [&] { return f.meter.getVectorSumRelativeState() == 1; }},
        {R"({"action":"disableVsumRelative"})", true, [&] { return f.meter.getVectorSumRelativeState() == 0; }},
        {R"({"action":"setAutoRelative","channel":2})", true, [] { return true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(f.client->ask(std::string(c.request)), c.success ? kSuccess : kFailure);
        EXPECT_TRUE(c.effect());
    }

    makeReady(ch1);
    EXPECT_EQ(ask(request("doZero", 1)), kSuccess);
    EXPECT_EQ(ch1.getZeroingState(), kZeroing);
}

class JsonDataLogs : public JsonActions {
protected:
    std::string folder = platform::resolve(platform::path::kDatalogDir);

    void touch(const std::string& path) { std::ofstream(path) << "x\n"; }
    std::vector<std::string> csvFiles() {
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0) names.push_back(name);
            }
            closedir(dir);
        }
        return names;
    }
};

TEST_F(JsonDataLogs, DeleteRemovesPlainNamesOfTheFolderOnly) {
    const std::string outside = f.sandbox.file("/var/www/victim.csv");
    const std::string settings = f.sandbox.file("/var/lib/tarvel/victim");
    touch(outside);
    touch(settings);
    touch(folder + "/a.csv");
    touch(folder + "/b.csv");
    touch(folder + "/c.csv");

    EXPECT_EQ(f.client->ask(std::string(
                  R"({"action":"deleteDataLogFiles","filenames":["../victim.csv","/var/www/victim.csv",)"
                  R"("../../lib/tarvel/victim","..",".","","sub/../a.csv","a.csv\u0000x",5,{"n":"b.csv"},["b.csv"]]})")),
              kSuccess);
    EXPECT_TRUE(exists(outside));
    EXPECT_TRUE(exists(settings));
    EXPECT_TRUE(exists(folder + "/a.csv"));
    EXPECT_TRUE(exists(folder + "/b.csv"));
    EXPECT_TRUE(exists(folder));

    EXPECT_EQ(f.client->ask(std::string(R"({"action":"deleteDataLogFiles","filenames":"a.csv"})")), kSuccess);
    EXPECT_EQ(f.client->ask(std::string(R"({"action":"deleteDataLogFiles"})")), kSuccess);
    EXPECT_TRUE(exists(folder + "/a.csv"));

    EXPECT_EQ(f.client->ask(std::string(R"({"action":"deleteDataLogFiles","filenames":["a.csv","missing.csv","b.csv"]})")),
              kSuccess);
    EXPECT_FALSE(exists(folder + "/a.csv"));
    EXPECT_FALSE(exists(folder + "/b.csv"));
    EXPECT_TRUE(exists(folder + "/c.csv"));
}

// A log that a write failure stopped: the row count and the stop say why,
// the count is the rows in the file, and the SCPI error queue has it too.
TEST_F(JsonDataLogs, ALogStoppedByAWriteFailureIsReportedByTheCountAndTheStop) {
    using testsupport::FailingWrites;
    f.meter.installDataLogSource();
    makeReady(ch2);   // the single-channel model logs slot 2
    EXPECT_EQ(ask(request("startDataLogging")), kSuccess);
    f.meter.writeDataLogRow();
    f.meter.writeDataLogRow();
    EXPECT_EQ(ask(request("getDataLogRowCount")), parse(R"({"rows":2})"));
    const std::string file = folder + "/data0001.csv";
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    {
        FailingWrites full(FailingWrites::FileSizeLimit, static_cast<rlim_t>(st.st_size));
        f.meter.writeDataLogRow();
    }
    f.meter.writeDataLogRow();
    const std::string reason = FailingWrites::reason(FailingWrites::FileSizeLimit);
    Json::Value expected = parse(R"({"rows":2})");
    expected["error"] = reason;
    EXPECT_EQ(ask(request("getDataLogRowCount")), expected);
    expected = parse(R"({"success":false,"filename":"/datalogs/data0001.csv"})");
    expected["error"] = reason;
    EXPECT_EQ(ask(request("stopDataLogging")), expected);
    EXPECT_EQ(ScpiErrorQueue::instance()->newest()->getDetail(), "data log data0001.csv stopped: " + reason);

    // The next log starts afresh.
    EXPECT_EQ(ask(request("startDataLogging")), kSuccess);
    EXPECT_EQ(ask(request("getDataLogRowCount")), parse(R"({"rows":0})"));
    EXPECT_EQ(ask(request("stopDataLogging")), parse(R"({"success":true,"filename":"/datalogs/data0002.csv"})"));
}

// With no log to stop, the stop names no file and answers false.
TEST_F(JsonDataLogs, StartWithoutAProbeFailsAndTheStopAnswersFalse) {
    f.meter.installDataLogSource();
    EXPECT_EQ(ask(request("startDataLogging")), kFailure);
    EXPECT_EQ(ask(request("getDataLogRowCount")), parse(R"({"rows":0})"));
    EXPECT_EQ(ask(request("stopDataLogging")), kFailure);
    EXPECT_EQ(ask(request("cancelDataLogging")), kSuccess);
}

// Naming the running log's file deletes the others named and answers false.
TEST_F(JsonDataLogs, DeleteKeepsTheRunningLogsFileAndAnswersFalse) {
    f.meter.installDataLogSource();
    makeReady(ch2);
    EXPECT_EQ(ask(request("startDataLogging")), kSuccess);
    const std::vector<std::string> logs = csvFiles();
    ASSERT_EQ(logs.size(), 1u);
    const std::string name = logs[0];
    touch(folder + "/other.csv");

    Json::Value asked = parse(R"({"action":"deleteDataLogFiles"})");
    asked["filenames"].append("other.csv");
    asked["filenames"].append(name);
    EXPECT_EQ(ask(asked), kFailure);
    EXPECT_FALSE(exists(folder + "/other.csv"));
    EXPECT_TRUE(exists(folder + "/" + name));
    f.meter.writeDataLogRow();
    EXPECT_EQ(ask(request("getDataLogRowCount")), parse(R"({"rows":1})"));

    const Json::Value stop = ask(request("stopDataLogging"));
    EXPECT_EQ(stop["success"], true);
    EXPECT_EQ(stop["filename"], "/datalogs/" + name);
    EXPECT_EQ(ask(asked), kSuccess) << "stopped, its file goes";
    EXPECT_FALSE(exists(folder + "/" + name));
}

}  // namespace
