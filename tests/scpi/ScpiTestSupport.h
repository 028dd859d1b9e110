// Fixtures of the SCPI server tests: a meter model whose three channels are
// test channels (their card links record frames, their state is set
// directly), a catalogue, status model and error queue of the test's own,
// and an in-memory server on the installed command table.
#pragma once

#include "channel/ErrorHandler.h"
#include "channel/ChannelTestSupport.h"
#include "meter/MeterModel.h"
#include "platform/Platform.h"
#include "runtime/ErrorList.h"
#include "scpi/ScpiServerMemory.h"
#include "status/ScpiErrorQueue.h"
#include "status/ScpiRegisterManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace scpitest {

// The installed command table of the source tree.
inline std::string installedTable() {
    return std::string(TVL_SOURCE_DIR) + "/data/sandbox/var/lib/tarvel/SCPItable.csv";
}

// A channel whose reading state a test sets directly.
class Channel : public chtest::TestChannel {
public:
    using chtest::TestChannel::TestChannel;
    // A link on the given transport in place of the recording one.
    void attachTransport(std::unique_ptr<platform::CanTransport> transport) {
        auto l = std::make_shared<CANinterface>(std::move(transport));
        std::lock_guard<std::mutex> lock(linkMutex);
        canInterface = l;
    }
    void setOverRangeRaw(bool on) { overRange = on; }
    void setDiagModeRaw(int m) { diagMode = m; }
    void setZeroingStateRaw(int s) { zeroingState = s; }
    void setHoldsRaw(float min, float max, float peak, float valley) {
        minHoldValue = min;
        maxHoldValue = max;
        peakHoldValue = peak;
        valleyHoldValue = valley;
    }
    // A probe of the class (3: 30 G to 30 kG ranges) with its texts, ready.
    void insertProbe(const char* model, const char* serial, int probeClass = 3) {
        const char config[7] = {2, 0, 0, 0, 0, 1, static_cast<char>(probeClass)};
        getProbe().onProbeData(6, config);
        char text[7] = {};
        std::strncpy(text, model, 6);
        getProbe().onProbeData(0, text);
        std::strncpy(text, serial, 6);
        getProbe().onProbeData(2, text);
        setStatus(kChannelProbeReady);
        onRangeReply(0);
        onRangeReply(3);   // the range table of the probe's class
    }
};

// A meter model of the test's own whose channels are test channels.
class Meter : public MeterModel {
public:
    explicit Meter(const std::string& bus, bool threeChannels = true) : MeterModel(bus.c_str()) {
        for (unsigned i = 0; i < kSlotCount; ++i) {
            errorHandlers[i].reset();
            auto ch = std::make_unique<Channel>(static_cast<int>(i + 1));
            test[i] = ch.get();
            frameLogs[i] = ch->attachFakeLink();
            channels[i] = std::move(ch);
            errorHandlers[i] = std::make_unique<ErrorHandler>(channels[i].get());
            channels[i]->signalZeroingStateChanged().connect(sigc::mem_fun(*this, &MeterModel::onZeroingStateChanged));
            channels[i]->signalChannelStatusChanged().connect(sigc::mem_fun(*this, &MeterModel::onChannelStatusChanged));
        }
        threeChannelModel = threeChannels;
        // The backplane link: frames land in a log of their own.
        auto link = std::make_shared<CANinterface>(
            std::make_unique<testsupport::FakeTransport>(backplaneLog));
        std::lock_guard<std::mutex> lock(linkMutex);
        backplaneLink = link;
    }
    Channel& channel(unsigned slot) { return *test[slot - 1]; }
    // Frames the slot's card was sent since the last call.
    std::vector<std::string> frames(unsigned slot) { return frameLogs[slot - 1]->take(); }
    // Frames sent to the backplane since the last call.
    std::vector<std::string> backplaneFrames() { return backplaneLog->take(); }
    void setThreeChannel(bool on) { threeChannelModel = on; }

private:
    Channel* test[kSlotCount] = {};
    std::shared_ptr<testsupport::FakeBus> frameLogs[kSlotCount];
    std::shared_ptr<testsupport::FakeBus> backplaneLog = std::make_shared<testsupport::FakeBus>();
};

// Everything a server needs, private to the test.
struct Services {
    Services() {
        for (auto [code, text] : {std::pair<int, const char*>{-100, "Command error"},
                                  {-200, "Execution error"}, {-350, "Queue overflow"}, {-500, "Power on"}})
            catalogue.add(code, 2, "", "", "", text, false, false);
        errors = std::make_unique<ScpiErrorQueue>(platform::dataFile("errs"), catalogue, status);
    }
    ScpiServer::Services forServer(MeterModel& meter, const std::string& table = installedTable()) {
        return ScpiServer::Services{&meter, errors.get(), &status, &catalogue, table};
    }
    ErrorList catalogue;
    ScpiRegisterManager status;
    std::unique_ptr<ScpiErrorQueue> errors;
};

// The usual fixture: sandbox, three-channel test meter, in-memory server.
class ServerTest : public ::testing::Test {
protected:
    // Replies of one line, processed on the test's thread.
    std::vector<std::string> ask(const std::string& line) { return server->command(line); }
    // The one reply of a query ("" when there was none).
    std::string reply(const std::string& line) {
        auto r = ask(line);
        EXPECT_LE(r.size(), 1u) << line;
        return r.empty() ? "" : r[0];
    }
    // The oldest error-queue entry as SYST:ERR:NEXT? answers it.
    std::string nextError() { return reply(":SYST:ERR:NEXT?"); }

    testsupport::TempSandbox sandbox;
    Meter meter{testsupport::uniqueBusName("q")};
    Services services;
    std::unique_ptr<ScpiServerMemory> server =
        std::make_unique<ScpiServerMemory>(services.forServer(meter));
};

}  // namespace scpitest
