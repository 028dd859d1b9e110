// One connection's framing and parsing: line lengths up to and beyond the
// buffer, several requests in one segment, CR LF, zero bytes, lines that do
// not parse, requests that name no action, members missing or of the wrong
// type, a client that goes before its reply, and the idle time-out.
#include "JsonTestSupport.h"

#include "channel/ChannelModel.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <vector>

using namespace jsontest;

namespace {

// A request whose reply is known and unlike any other: what follows a case
// shows whether the case got replies of its own.
const std::string kMarker = R"({"action":"getModelNumber"})";
const std::string kMarkerReply = R"({"model":"4710"})";

// Sends the bytes and then the marker; returns the reply lines before the
// marker's reply.
std::vector<std::string> repliesBeforeMarker(LineClient& client, const std::string& bytes) {
    std::vector<std::string> replies;
    EXPECT_TRUE(client.send(bytes + kMarker + "\n"));
    std::string reply;
    while (client.readLine(reply)) {
        if (reply == kMarkerReply) return replies;
        replies.push_back(reply);
    }
    ADD_FAILURE() << "the connection stopped answering after: " << bytes.substr(0, 80);
    return replies;
}

const std::string kRowsRequest = R"({"action":"getDataLogRowCount"})";

// A getDataLogRowCount request padded with blanks to n bytes.
std::string paddedTo(std::size_t n) {
    std::string s = kRowsRequest;
    s.insert(s.size() - 1, n - s.size(), ' ');
    return s;
}

TEST(JsonConnection, FramingOfRequestLines) {
    ConnectionFixture f;
    const std::string rows = R"({"rows":0})";
    const std::string& rowsRequest = kRowsRequest;
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> replies;
    };
    const std::vector<Case> cases = {
        {"one request", rowsRequest + "\n", {rows}},
        {"two requests in one segment, answered in order",
         rowsRequest + "\n" + R"({"action":"getSystemInfo"})" + "\n",
         {rows, R"({"firmwareVersion":"1.6.1","fpFirmwareVersion":"unknown","model":"4710","psuFirmwareVersion":"unknown"})"}},
        {"CR LF", rowsRequest + "\r\n", {rows}},
        {"exactly 1023 bytes", paddedTo(1023) + "\n", {rows}},
        {"1024 bytes: dropped", paddedTo(1024) + "\n", {}},
        {"far too long: dropped up to its newline", paddedTo(5000) + "\n", {}},
        {"a zero byte ends the request", rowsRequest + std::string("\0garbage", 8) + "\n", {rows}},
        {"a zero byte inside: does not parse", std::string("{\"action\":\"getData\0\"}", 21) + "\n", {}},
        {"empty line", "\n", {}},
        {"blanks only", "   \n", {}},
        {"not JSON", "hello\n", {}},
        {"unknown action", R"({"action":"selfDestruct"})" "\n", {}},
        {"action in the wrong case", R"({"action":"GETMODELNUMBER"})" "\n", {}},
        {"empty object", "{}\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(repliesBeforeMarker(*f.client, c.bytes), c.replies);
    }
}

// A request names an action only with a string in an object: anything else
// gets no reply.
TEST(JsonConnection, RequestsThatNameNoActionGetNoReply) {
    ConnectionFixture f;
    const std::vector<std::string> requests = {
        "[1,2,3]",
        "5",
        R"("pollMeter")",
        "null",
        std::string(1001, '[') + std::string(1001, ']'),   // deeper than the parser goes
        R"({"action":["pollMeter"]})",
        R"({"action":5})",
        R"({"action":null,"channel":1})",
    };
    for (const std::string& r : requests) {
        SCOPED_TRACE(r.substr(0, 60));
        EXPECT_EQ(repliesBeforeMarker(*f.client, r + "\n"), std::vector<std::string>{});
    }
}

// Every request of a known action is answered.  A member of the wrong JSON
// type (or a number beyond what the action reads) answers {"success":false}
// and changes nothing: an integer takes only a number with no fractional
// part, a real only a number, a flag only true or false, a text only a
// string; null is none of them.  A missing member reads as 0, false, 0.0 or
// "".
TEST(JsonConnection, EveryRequestOfAKnownActionIsAnswered) {
    ConnectionFixture f;
    const std::string failure = R"({"success":false})";
    const std::string success = R"({"success":true})";
    ChannelModel* ch = f.meter.getChannel(1);
    const float rate = f.meter.getDisplayRate();
    const std::vector<std::string> wrongTypes = {
        R"({"action":"pollChannel","channel":"one"})",
        R"({"action":"pollChannel","channel":1e20})",
        R"({"action":"pollChannel","channel":[1]})",
        R"({"action":"getRangeList","channel":{}})",
        R"({"action":"setFluxUnits","units":"1"})",
        R"({"action":"setRange","channel":1,"range":"3"})",
        R"({"action":"setAutorange","channel":1,"autorange":"yes"})",
        R"({"action":"setHoldState","channel":1,"which":{"w":1},"enabled":true})",
        R"({"action":"setHoldState","channel":1,"which":"max","enabled":[true]})",
        R"({"action":"setManualRelative","channel":1,"offset":"1.5"})",
        R"({"action":"setManualRelative","channel":1,"offset":1e300})",
        R"({"action":"setUpdateRate","rate":{}})",
        R"({"action":"setVsumManualRelative","offset":-1e39})",
        R"({"action":"pollMeter","vsum":"true"})",
        // What the library would convert: true as 1, 1.5 cut to 1, 1 as true.
        R"({"action":"setMode","channel":1,"mode":true})",
        R"({"action":"setMode","channel":2,"mode":0.5})",
        R"({"action":"setMode","channel":2,"mode":false})",
        R"({"action":"setZeroMode","channel":1.5,"mode":1})",
        R"({"action":"setAutorange","channel":1.5,"autorange":false})",
        R"({"action":"setAutorange","channel":true,"autorange":false})",
        R"({"action":"pollChannel","channel":true})",
        R"({"action":"setUpdateRate","rate":true})",
        R"({"action":"setFluxUnits","units":true})",
        R"({"action":"setTempUnits","units":0.5})",
        R"({"action":"setHoldState","channel":1,"which":"max","enabled":1})",
        R"({"action":"setVsumHoldState","which":"max","enabled":0.0})",
        R"({"action":"pollMeter","vsum":1})",
        R"({"action":"setHoldState","channel":1,"which":true,"enabled":true})",
        // null is no value of any kind.
        R"({"action":"pollChannel","channel":null})",
        R"({"action":"setFluxUnits","units":null})",
        R"({"action":"setAutorange","channel":1,"autorange":null})",
        R"({"action":"setUpdateRate","rate":null})",
    };
    ch->setFluxUnits(2);
    for (const std::string& r : wrongTypes) {
        SCOPED_TRACE(r);
        EXPECT_EQ(repliesBeforeMarker(*f.client, r + "\n"), std::vector<std::string>{failure});
    }
    EXPECT_EQ(ch->getFluxUnits(), 2);
    EXPECT_EQ(ch->getTemperatureUnits(), 1);
    EXPECT_TRUE(ch->isAutorange());
    EXPECT_FALSE(ch->isMaxHoldEnabled());
    EXPECT_EQ(ch->getZeroMode(), f.meter.getChannel(2)->getZeroMode());
    EXPECT_EQ(ch->getRelativeState(), 0);
    EXPECT_FALSE(f.meter.isVectorSumMaxHoldEnabled());
    EXPECT_EQ(f.meter.getVectorSumRelativeOffset(), 0.0f);
    EXPECT_EQ(f.meter.getDisplayRate(), rate);

    // Whole numbers written as reals are integers; any number is a real.
    EXPECT_EQ(repliesBeforeMarker(*f.client, R"({"action":"setFluxUnits","units":1.0})" "\n"),
              std::vector<std::string>{success});
    EXPECT_EQ(ch->getFluxUnits(), 1);
    EXPECT_EQ(repliesBeforeMarker(*f.client, R"({"action":"setMode","channel":2.0,"mode":0})" "\n"),
              std::vector<std::string>{success});
    for (const float taken : {2.0f, 1.0f}) {
        const std::string r = R"({"action":"setUpdateRate","rate":)" + std::to_string(static_cast<int>(taken)) + "}\n";
        EXPECT_EQ(repliesBeforeMarker(*f.client, r), std::vector<std::string>{success});
        EXPECT_EQ(f.meter.getDisplayRate(), taken);
    }

    ch->setMaxHoldEnabled(true);
    ch->setFluxUnits(2);
    const std::vector<std::pair<std::string, std::string>> missing = {
        {R"({"action":"pollChannel"})", failure},                 // channel 0
        {R"({"action":"doZero"})", failure},
        {R"({"action":"setFluxUnits"})", success},                // gauss
        {R"({"action":"setHoldState","channel":1,"which":"max"})", success},   // off
        {R"({"action":"setHoldState","channel":1})", failure},    // which: "", no hold
        {R"({"action":"pollMeter"})", R"({"angle":0,"displayRate":1.0,"flux":0,"temp":1,"time":0,"vsum":false})"},
    };
    for (const auto& [request, reply] : missing) {
        SCOPED_TRACE(request);
        EXPECT_EQ(repliesBeforeMarker(*f.client, request + "\n"), std::vector<std::string>{reply});
    }
    EXPECT_EQ(ch->getFluxUnits(), 0);
    EXPECT_FALSE(ch->isMaxHoldEnabled());
}

// A client that sends nothing but bad lines gets a few console lines a
// second, and a count of the rest when it goes; every line is still read.
TEST(JsonConnection, ConsoleLinesOfAClientAreAFewASecond) {
    std::string out;
    {
        ConnectionFixture f;
        std::string flood;
        for (int i = 0; i < 5000; ++i) flood += i % 2 ? "x\n" : "1\n";
        testing::internal::CaptureStdout();
        EXPECT_EQ(repliesBeforeMarker(*f.client, flood), std::vector<std::string>{});
        f.client->close();   // the client goes: its connection ends
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.closedSignals.load() == 1; }, std::chrono::seconds(10)));
        out = testing::internal::GetCapturedStdout();
    }
    std::size_t parseFailed = 0, notAnObject = 0, lines = 0;
    for (std::size_t at = 0; (at = out.find("parse failed", at)) != std::string::npos; ++at) ++parseFailed;
    for (std::size_t at = 0; (at = out.find("the request is not an object", at)) != std::string::npos; ++at) ++notAnObject;
    for (char c : out) lines += c == '\n';
    EXPECT_LE(parseFailed + notAnObject, 2 * console::Limiter::kLinesPerSecond) << out;
    EXPECT_LE(lines, 200u) << out;
    std::size_t leftOut = 0;
    for (std::size_t at = 0; (at = out.find(" lines from JSON client on fd ", at)) != std::string::npos; ++at)
        leftOut += std::stoul(out.substr(out.rfind('(', at) + 1));
    EXPECT_EQ(leftOut + parseFailed + notAnObject, 5000u) << out;
}

// The process ignores no signal here: a reply written with a plain write to
// a client that has gone would end the test with SIGPIPE.
TEST(JsonConnection, ReplyToAClientThatHasGoneLeavesTheProcessRunning) {
    testsupport::TempSandbox sandbox;
    metertest::TestMeter meter(testsupport::uniqueBusName("j"));
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    const std::string requests = R"({"action":"pollMeter"})" "\n" R"({"action":"pollMeter"})" "\n";
    ASSERT_EQ(write(fds[0], requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
    close(fds[0]);   // gone before the requests are read
    std::atomic<int> closed{0};
    JsonConnection connection(fds[1], meter);
    connection.signalClosed().connect([&](JsonConnection* c) {
        EXPECT_EQ(c, &connection);
        ++closed;
    });
    connection.start();
    EXPECT_TRUE(testsupport::waitUntil([&] { return closed == 1; }, 20s));
}

TEST(JsonConnection, ClosesAfterTheIdleTimeOut) {
    ConnectionFixture f(300ms);
    EXPECT_EQ(f.client->ask(kMarker), parse(kMarkerReply));
    EXPECT_TRUE(f.client->waitForClose());
    EXPECT_TRUE(testsupport::waitUntil([&] { return f.closedSignals == 1; }, 20s));
}

}  // namespace
