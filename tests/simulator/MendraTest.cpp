// End-to-end tests of mendra: the real program on a private emulated bus,
// checked from a host-side CANinterface peer in this process.  One mendra run
// serves the whole Mendra suite, because its probes become ready only about
// 10 s after it starts.  Each test still sets up what it needs (a stream, the
// probe ready), so that it also passes alone, as CTest runs it.
#include "BusPeer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using simtest::BusPeer;
using simtest::cardReply;
using simtest::Frame;

namespace {

// Card command codes of the replies (card to host).
enum Reply {
    kSample = 0x00,
    kMode = 0x01,
    kTrigger = 0x02,
    kWaveformData = 0x03,
    kPresence = 0x05,
    kCardReady = 0x06,
    kPeakValley = 0x07,
    kRange = 0x08,
    kDiagMode = 0x09,
    kHello = 0x0A,
    kZeroDone = 0x0B,
    kProbeData = 0x0C,
    kCalParameter = 0x0D,
    kTableElement = 0x0E,
    kTableSizes = 0x0F,
    kFrequency = 0x10,
    kZeroProgress = 0x12,
    kBoardInfo = 0x13,
};

constexpr double kNoiseLevel[4] = {0, 40.0, 10.0, 80.0};   // percent, by channel
constexpr float kFullScaleRange0 = 30.0f;                    // probe class 3, range 0
constexpr float kFirstCalParameters[9] = {4038.133f, 403.8133f, 40.38133f, 4.038133f, 0.3333333f,
                                          200.6567f, 20.65667f, 2.656667f, 1.008f};

// A board-information half: the text padded with zeros to 7 bytes.
std::string half(const char* text) {
    std::string s(text);
    s.resize(7, '\0');
    return s;
}

bool isCardFrame(const Frame& f, int c) { return f.id >= cardReply(c, 0) && f.id <= cardReply(c, 0x1F); }
int command(const Frame& f) { return f.id & 0x1F; }

class Mendra : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sandbox = std::make_unique<testsupport::TempSandbox>();
        bus = testsupport::uniqueBusName("ms");
        peer = std::make_unique<BusPeer>(bus);
        peer->can.signalHelloReply().connect([] { ++helloReplies; });
        peer->can.signalBackplaneTemperature().connect([](float t) { lastTemperature = t; });
        peer->start();
        mendra = std::make_unique<testsupport::ChildProcess>();
        started = std::chrono::steady_clock::now();
        if (!mendra->start(testsupport::binPath("mendra"), {"-sandbox", sandbox->path(), "-can", bus})) return;
        // The nodes open their links one after the other: the backplane's is
        // open when mendra names the bus (it has reported its status by
        // then, unasked), a card's when it reports its probe found.  Each is
        // greeted once only then, so that no answer to an earlier greeting
        // can come late into a test.
        ready = testsupport::waitUntil([] {
            if (mendra->output().find("Using CAN ") == std::string::npos) return false;
            for (int c = 1; c <= 3; ++c)
                if (peer->log.count(cardReply(c, kPresence)) == 0) return false;
            return peer->log.count(0x220) > 0;
        });
        if (!ready) return;
        unaskedStatus = peer->log.withId({0x220, 0x221, 0x222});
        for (int c = 1; c <= 3; ++c) peer->can.sendHello(c);
        peer->can.sendTemperatureRequest();
        ready = testsupport::waitUntil([] {
            for (int c = 1; c <= 3; ++c)
                if (peer->log.count(cardReply(c, kHello)) == 0) return false;
            return peer->log.count(0x220) > 1;
        });
    }

    static void TearDownTestSuite() {
        if (mendra) {
            const int status = mendra->stop();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "mendra ended with status " << status;
        }
        mendra.reset();
        peer.reset();
        sandbox.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(ready) << "mendra did not answer; its output:\n" << (mendra ? mendra->output() : "");
    }

    void TearDown() override { EXPECT_TRUE(mendra->running()) << mendra->output(); }

    static std::chrono::milliseconds sinceStart() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    }

    // Waits until n frames with the id have arrived since the log was cleared.
    static bool waitForCount(int id, std::size_t n, std::chrono::milliseconds deadline = 5s) {
        return testsupport::waitUntil([&] { return peer->log.count(id) >= n; }, deadline);
    }

    // Sends a hello to card c and waits for its answer: every reply to an
    // earlier request to that card has been sent by then.
    static bool barrier(int c) {
        const std::size_t before = peer->log.count(cardReply(c, kHello));
        peer->can.sendHello(c);
        return waitForCount(cardReply(c, kHello), before + 1);
    }

    // Frames of card c without the streamed ones, in order.
    static std::vector<Frame> requestReplies(int c) {
        std::vector<Frame> out;
        for (const Frame& f : peer->log.all()) {
            if (!isCardFrame(f, c)) continue;
            const int cmd = command(f);
            if (cmd == kSample || cmd == kFrequency || cmd == kPeakValley) continue;
            out.push_back(f);
        }
        return out;
    }

    // Runs a send-all on card c and checks its sequence.
    static void expectSendAll(int c, bool probeReady);

    // Waits until card c has reported its probe ready (about 10 s after start).
    static bool waitForProbeReady(int c) {
        return testsupport::waitUntil([&] { return peer->log.lastByte0(cardReply(c, kPresence)) == 2; }, 15s);
    }

    // Card c streams once its probe is ready and it has had a send-all.  Each
    // test that needs a stream makes sure of it, so that it also runs alone.
    static void ensureStreaming(int c) {
        ASSERT_TRUE(waitForProbeReady(c)) << "card " << c << " reported no ready probe";
        if (streaming[c]) return;
        const std::size_t before = peer->log.count(cardReply(c, kCardReady));
        peer->can.sendSendAllRequest(c);
        ASSERT_TRUE(waitForCount(cardReply(c, kCardReady), before + 1));
        streaming[c] = true;
    }

    static std::unique_ptr<testsupport::TempSandbox> sandbox;
    static std::string bus;
    static std::unique_ptr<BusPeer> peer;
    static std::unique_ptr<testsupport::ChildProcess> mendra;
    static std::chrono::steady_clock::time_point started;
    static bool ready;
    // The backplane's frames before the suite asked it anything.
    static std::vector<Frame> unaskedStatus;
    static std::atomic<int> helloReplies;
    static std::atomic<float> lastTemperature;
    static bool streaming[4];
};

std::unique_ptr<testsupport::TempSandbox> Mendra::sandbox;
std::string Mendra::bus;
std::unique_ptr<BusPeer> Mendra::peer;
std::unique_ptr<testsupport::ChildProcess> Mendra::mendra;
std::chrono::steady_clock::time_point Mendra::started;
bool Mendra::ready = false;
std::vector<Frame> Mendra::unaskedStatus;
std::atomic<int> Mendra::helloReplies{0};
std::atomic<float> Mendra::lastTemperature{0.0f};
bool Mendra::streaming[4] = {};

// Texts of four board-information strings sent as slots 0-7 (14 characters each).
std::vector<std::string> boardTexts(const std::vector<Frame>& slots) {
    std::vector<std::string> texts(4);
    for (const Frame& f : slots) {
        std::string half = f.text(1, 7);
        texts[f.data[0] / 2] += half;
    }
    for (auto& t : texts) t = t.substr(0, t.find('\0'));
    return texts;
}

void Mendra::expectSendAll(int c, bool probeReady) {
    peer->log.clear();
    peer->can.sendSendAllRequest(c);
    ASSERT_TRUE(waitForCount(cardReply(c, kCardReady), 1)) << "no card ready from card " << c;
    const std::vector<Frame> frames = requestReplies(c);
    std::size_t i = 0;
    auto next = [&](int cmd) -> const Frame& {
        static const Frame none{};
        if (i >= frames.size()) {
            ADD_FAILURE() << "sequence of card " << c << " ends early, expected command " << cmd;
            return none;
        }
        const Frame& f = frames[i++];
        EXPECT_EQ(command(f), cmd) << "frame " << i - 1 << " of card " << c;
        return f;
    };

    std::vector<Frame> slots;
    for (int slot = 0; slot < 8; ++slot) {
        const Frame& f = next(kBoardInfo);
        EXPECT_EQ(f.data[0], slot);
        slots.push_back(f);
    }
    EXPECT_EQ(boardTexts(slots), (std::vector<std::string>{"11111222223333", "111", "1111", "01-01-1111"}));

    for (int index = 0; index < 93; ++index) {
        const Frame& f = next(kCalParameter);
        EXPECT_EQ(f.data[0], index);
        const float expected = index < 9 ? kFirstCalParameters[index]
                             : index <= 39 ? static_cast<float>(1.0 + index / 1000.0) : 0.0f;
        EXPECT_EQ(f.floatAt(1), expected) << "parameter " << index;
    }

    const Frame& sizes = next(kTableSizes);
    EXPECT_EQ(std::vector<int>(sizes.data, sizes.data + 3), (std::vector<int>{10, 10, 12}));

    struct Group {
        std::vector<int> tables;
        int length;
    };
    const Group groups[] = {{{0, 1, 2, 3, 4}, 10}, {{5, 6, 7, 8}, 10}, {{9, 10, 11, 12, 18, 19}, 15},
                            {{13, 14, 15, 16, 17}, 12}};
    for (const Group& g : groups) {
        for (int index = 0; index < g.length; ++index) {
            for (int table : g.tables) {
                const Frame& f = next(kTableElement);
                EXPECT_EQ(f.data[0], table);
                EXPECT_EQ(f.data[1], index);
                EXPECT_EQ(f.floatAt(2), 1.0f);
            }
        }
    }

    const Frame& presence = next(kPresence);
    EXPECT_EQ(presence.data[0], probeReady ? 2 : 0);
    if (probeReady) {
        std::vector<int> kinds;
        for (int k = 0; k <= 15; ++k) kinds.push_back(k);
        kinds.push_back(20);
        kinds.insert(kinds.end(), 61, 16);
        kinds.insert(kinds.end(), 40, 17);
        kinds.push_back(21);
        kinds.push_back(22);
        std::vector<Frame> items;
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            items.push_back(next(kProbeData));
            EXPECT_EQ(items.back().data[0], kinds[k]) << "probe item " << k;
        }
        ASSERT_EQ(items.size(), 120u);
        EXPECT_EQ(items[0].text(1, 6) + items[1].text(1, 6), "ABC123456789");
        EXPECT_EQ(items[4].text(1, 6) + items[5].text(1, 4), "04-20-2020");
        EXPECT_EQ(std::vector<int>(items[6].data + 1, items[6].data + 8), (std::vector<int>{2, c, 0, 0, 0, 1, 3}));
        EXPECT_EQ(items[9].floatAt(1), 1.0f);    // sensitivity multiplier of probe class 3
        EXPECT_EQ(items[11].floatAt(1), 2.0f);   // Hall output impedance
        EXPECT_EQ(items[16].floatAt(1), 26.3f);  // temperature
        EXPECT_EQ(items[17].data[1], 0);         // first DC linearity factor
        EXPECT_EQ(items[17].floatAt(2), 1.0f);
        EXPECT_EQ(items[77].data[1], 60);
        EXPECT_EQ(items[78 + 39].data[1], 39);
        EXPECT_EQ(std::vector<int>(items[118].data + 1, items[118].data + 5), (std::vector<int>{0x12, 0x34, 0x56, 0x78}));
        EXPECT_EQ(std::vector<int>(items[119].data + 1, items[119].data + 5), (std::vector<int>{0x87, 0x65, 0x43, 0x21}));
    }
    const Frame& done = next(kCardReady);
    EXPECT_EQ(done.length, 0);
    EXPECT_EQ(i, frames.size()) << "card ready is the last frame of the sequence";
}

TEST_F(Mendra, PrintsItsStartLinesAndReportsProbesFound) {
    const std::string out = mendra->output();
    // The backplane's reader is already answering the test's requests by
    // then, and may print its own lines in between.
    const auto starting = out.find("BackplaneSim starting up\n");
    const auto using_ = out.find("\nUsing CAN " + bus + "\n");
    EXPECT_NE(starting, std::string::npos) << out;
    EXPECT_NE(using_, std::string::npos) << out;
    EXPECT_LT(starting, using_) << out;
    for (int c = 1; c <= 3; ++c) {
        const auto presence = peer->log.withId({cardReply(c, kPresence)});
        ASSERT_FALSE(presence.empty()) << "card " << c;
        EXPECT_EQ(presence.front().data[0], 1) << "probe found at start, card " << c;
    }
}

TEST_F(Mendra, EachCardAnswersHello) {
    for (int c = 1; c <= 3; ++c) {
        peer->log.clear();
        const int before = helloReplies;
        peer->can.sendHello(c);
        EXPECT_TRUE(testsupport::waitUntil([&] { return helloReplies == before + 1; }));
        const auto frames = peer->log.withId({cardReply(c, kHello)});
        ASSERT_EQ(frames.size(), 1u) << "card " << c;
        EXPECT_EQ(frames[0].length, 0);
    }
}

TEST_F(Mendra, SendAllBeforeProbeReadyEndsWithPresenceZero) {
    ASSERT_LT(sinceStart(), 9s) << "this check needs the probes not yet ready";
    expectSendAll(2, false);
    EXPECT_LT(sinceStart(), 10s);
}

TEST_F(Mendra, BackplaneAnswersTheStatusRequest) {
    peer->log.clear();
    lastTemperature = 0.0f;
    peer->can.sendTemperatureRequest();
    ASSERT_TRUE(waitForCount(0x220, 1));
    const auto frames = peer->log.withId({0x220, 0x221, 0x222});
    ASSERT_EQ(frames.size(), 14u + 8u + 1u);
    const float constants[14] = {37, 0, 0, 19660, -19660, 30340, -30340, 0, 0, 19660, -19660, 30340, -30340, 0};
    for (int k = 0; k < 14; ++k) {
        EXPECT_EQ(frames[k].id, 0x221);
        EXPECT_EQ(frames[k].data[0], k);
        EXPECT_EQ(frames[k].floatAt(1), constants[k]) << "constant " << k;
    }
    std::vector<Frame> slots(frames.begin() + 14, frames.begin() + 22);
    for (int s = 0; s < 8; ++s) {
        EXPECT_EQ(slots[s].id, 0x222);
        EXPECT_EQ(slots[s].data[0], s);
    }
    EXPECT_EQ(boardTexts(slots), (std::vector<std::string>{"DEMO", "111", "1111", "01-01-1111"}));
    EXPECT_EQ(frames[22].id, 0x220);
    EXPECT_EQ(frames[22].floatAt(0), 27.0f);
    EXPECT_EQ(lastTemperature.load(), 27.0f);
    // mendra's lines reach its output a moment after they were printed.
    EXPECT_TRUE(mendra->waitForOutput("BackplaneSim::_sendAllCalParameters()\nBackplaneSim::_handleTempRequest()\n"))
        << mendra->output();
}

TEST_F(Mendra, BackplaneReportsItsStatusUnaskedWhenItStarts) {
    // As its answer to a status request: 14 constants, 8 board-information
    // halves, the temperature last.  Its host learns from it that the
    // backplane has just started.
    ASSERT_EQ(unaskedStatus.size(), 14u + 8u + 1u);
    for (int k = 0; k < 14; ++k) EXPECT_EQ(unaskedStatus[k].id, 0x221) << k;
    for (int s = 0; s < 8; ++s) EXPECT_EQ(unaskedStatus[14 + s].id, 0x222) << s;
    EXPECT_EQ(unaskedStatus.back().id, 0x220);
    EXPECT_EQ(unaskedStatus.back().floatAt(0), 27.0f);
}

TEST_F(Mendra, BackplaneStoresConstantsAndBoardInformation) {
    peer->log.clear();
    peer->can.sendSetBackplaneCalParameter(3, 100.0f);
    peer->can.sendSetBackplaneCalParameter(14, 5.0f);      // no such constant: dropped
    peer->can.sendSetBackplaneBoardInfo(0, "ABCDEFG", 7);  // the model cannot be changed
    peer->can.sendSetBackplaneBoardInfo(1, "HIJKLMN", 7);
    peer->can.sendSetBackplaneBoardInfo(2, half("2.5").data(), 7);
    peer->can.sendSetBackplaneBoardInfo(3, half("").data(), 7);
    peer->can.sendTemperatureRequest();
    ASSERT_TRUE(waitForCount(0x220, 1));
    const auto frames = peer->log.withId({0x221, 0x222});
    // Echoes: constant 3, model slots 0 and 1, rev slots 2 and 3; then the status reply.
    ASSERT_EQ(frames.size(), 1u + 2u + 2u + 14u + 8u);
    EXPECT_EQ(frames[0].data[0], 3);
    EXPECT_EQ(frames[0].floatAt(1), 100.0f);
    EXPECT_EQ(boardTexts({frames[1], frames[2]})[0], "DEMO");
    EXPECT_EQ(boardTexts({frames[3], frames[4]})[1], "2.5");
    EXPECT_EQ(frames[5 + 3].floatAt(1), 100.0f);
    EXPECT_EQ(frames[5 + 13].floatAt(1), 0.0f);
    std::vector<Frame> slots(frames.begin() + 19, frames.end());
    EXPECT_EQ(boardTexts(slots), (std::vector<std::string>{"DEMO", "2.5", "1111", "01-01-1111"}));
}

TEST_F(Mendra, CardAnswersItsCalibrationAndBoardCommands) {
    const int c = 1;
    peer->log.clear();
    peer->can.sendCalSetParameter(c, 5, 2.5f);
    peer->can.sendCalSetParameter(c, 100, 1.0f);        // printed, dropped
    peer->can.sendCalCreateNewTables(c, 0, 0, 0);
    peer->can.sendCalCreateNewTables(c, 10, 10, 12);
    peer->can.sendSetCalTableElement(c, 1, 3, 2.5f);
    peer->can.sendSetCalTableElement(c, 9, 15, 3.0f);   // past a fixed table: dropped
    peer->can.sendSetCalTableElement(c, 18, 0, 3.0f);   // not settable: dropped
    peer->can.sendSetBoardInfo(c, 2, "ABCDEFG", 7);
    peer->can.sendSetBoardInfo(c, 3, "HIJKLMN", 7);
    peer->can.sendSetBoardInfo(c, 9, "XXXXXXX", 7);     // no such slot
    peer->can.sendCalSaveToEeprom(c);
    peer->can.sendCalLoadFromEeprom(c);
    const int diagModes[][2] = {{1, 9}, {2, 0}, {3, 9}, {4, 0}, {7, 0}};
    for (const auto& m : diagModes) peer->can.sendSetDiagMode(c, static_cast<unsigned>(m[0]));
    ASSERT_TRUE(barrier(c));

    std::vector<Frame> frames;
    for (const Frame& f : requestReplies(c))
        if (command(f) != kHello) frames.push_back(f);
    const std::size_t elementsEmpty = 90, elementsFull = 50 + 40 + 90 + 60;
    ASSERT_EQ(frames.size(), 1 + (1 + elementsEmpty) + (1 + elementsFull) + 1 + 2 + 5);
    EXPECT_EQ(command(frames[0]), kCalParameter);
    EXPECT_EQ(frames[0].data[0], 5);
    EXPECT_EQ(frames[0].floatAt(1), 2.5f);
    EXPECT_EQ(std::vector<int>(frames[1].data, frames[1].data + 3), (std::vector<int>{0, 0, 0}));
    std::set<int> fixedTables;
    for (std::size_t k = 2; k < 2 + elementsEmpty; ++k) fixedTables.insert(frames[k].data[0]);
    EXPECT_EQ(fixedTables, (std::set<int>{9, 10, 11, 12, 18, 19}));
    std::size_t k = 2 + elementsEmpty + 1 + elementsFull;
    EXPECT_EQ(command(frames[k]), kTableElement);
    EXPECT_EQ(std::vector<int>(frames[k].data, frames[k].data + 2), (std::vector<int>{1, 3}));
    EXPECT_EQ(frames[k].floatAt(2), 2.5f);
    ++k;
    EXPECT_EQ(frames[k].data[0], 2);
    EXPECT_EQ(frames[k].text(1, 7), "ABCDEFG");
    EXPECT_EQ(frames[k + 1].data[0], 3);
    EXPECT_EQ(frames[k + 1].text(1, 7), "HIJKLMN");
    k += 2;
    const char* units[] = {"Vrms", "CTrms", "Vavg", "CTavg", "??"};
    for (int m = 0; m < 5; ++m, ++k) {
        EXPECT_EQ(command(frames[k]), kDiagMode);
        EXPECT_EQ(frames[k].data[0], diagModes[m][1]);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(frames[k].data + 1)), units[m]);
    }
    for (const char* line : {"_handleCalSetParameter 5, 2.5\n", "_handleCalSetParameter 100, 1\n",
                             "_handleCalCreatNewTables 0, 0, 0\n", "_handleSetCalTableElement 1, 3, 2.5\n",
                             "_rev = ABCDEFGHIJKLMN\n", "_handleCalSaveToEeprom\n", "_handlCalLoadFromEeprom\n"})
        EXPECT_TRUE(mendra->waitForOutput(line)) << line;
    EXPECT_EQ(mendra->output().find("_handleSetCalTableElement 9"), std::string::npos);

    // Back to the defaults for the later send-all checks.
    peer->can.sendSetBoardInfo(c, 2, half("111").data(), 7);
    peer->can.sendSetBoardInfo(c, 3, half("").data(), 7);
    peer->can.sendSetCalTableElement(c, 1, 3, 1.0f);
    peer->can.sendCalSetParameter(c, 5, kFirstCalParameters[5]);
    ASSERT_TRUE(barrier(c));
}

TEST_F(Mendra, WaveformOfTheHostTimeBaseIsAnswered) {
    // Decimation 200 with 500 points reads 99,800 entries past its start.
    const int c = 1;
    peer->log.clear();
    peer->can.sendWaveformRequest(c, 1, 0, 200, 500);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (const Frame& f : peer->log.withId({cardReply(c, kTrigger)}))
            if (f.data[0] == 4) return true;
        return false;
    }));
    const auto frames = peer->log.withId({cardReply(c, kTrigger), cardReply(c, kWaveformData)});
    ASSERT_EQ(frames.size(), 1u + 250u + 1u);
    EXPECT_EQ(frames.front().data[0], 3);
    EXPECT_EQ(frames.front().be16At(1), 500);
    for (std::size_t k = 1; k <= 250; ++k) {
        EXPECT_EQ(frames[k].id, cardReply(c, kWaveformData));
        EXPECT_EQ(frames[k].floatAt(0), 0.0f);   // field level 0
        EXPECT_EQ(frames[k].floatAt(4), 0.0f);
    }
    EXPECT_EQ(frames.back().data[0], 4);
    EXPECT_TRUE(mendra->running());
}

TEST_F(Mendra, StopWaitingEndsAWaitingCaptureWithoutAFrame) {
    const int c = 2;
    peer->log.clear();
    peer->can.sendTriggerMode(c, 1);
    peer->can.sendTriggerLevel(c, 0.5f);
    ASSERT_TRUE(waitForCount(cardReply(c, kTrigger), 1));
    EXPECT_EQ(peer->log.withId({cardReply(c, kTrigger)})[0].data[0], 1);

    // Field level 0 never crosses the level: each request waits, and the
    // degenerate ones (no step, fewer than two points) end their search too.
    const int requests[][2] = {{2, 100}, {0, 100}, {3, 1}, {3, 0}, {0, 0}};
    for (const auto& r : requests) {
        peer->can.sendWaveformRequest(c, 1, 0, r[0], r[1]);
        ASSERT_TRUE(barrier(c)) << "a waiting capture holds up the card's commands";
    }
    peer->can.sendStopWaiting(c);
    ASSERT_TRUE(barrier(c));
    auto waveformFrames = [&] {
        std::size_t n = peer->log.count(cardReply(c, kWaveformData));
        for (const Frame& f : peer->log.withId({cardReply(c, kTrigger)}))
            if (f.data[0] == 3 || f.data[0] == 4) ++n;
        return n;
    };
    // The capture looks again every 100 ms: give it a few looks.
    EXPECT_FALSE(testsupport::waitUntil([&] { return waveformFrames() > 0; }, 400ms));

    // Free run afterwards works, decimation 0 included: one window only.
    peer->can.sendTriggerMode(c, 0);
    peer->can.sendWaveformRequest(c, 1, 0, 0, 4);
    ASSERT_TRUE(waitForCount(cardReply(c, kWaveformData), 2));
    ASSERT_TRUE(barrier(c));
    EXPECT_FALSE(testsupport::waitUntil([&] { return waveformFrames() > 4; }, 300ms));
    EXPECT_EQ(waveformFrames(), 4u);
}

TEST_F(Mendra, SendAllAfterProbeReadySendsTheProbeBlock) {
    for (int c = 1; c <= 3; ++c) ASSERT_TRUE(waitForProbeReady(c)) << "card " << c << " reported no ready probe";
    EXPECT_GE(sinceStart(), 9s);
    for (int c = 1; c <= 3; ++c) {
        expectSendAll(c, true);
        streaming[c] = true;
    }
}

TEST_F(Mendra, CardsStreamWithinTheirNoiseBound) {
    for (int c = 1; c <= 3; ++c) ASSERT_NO_FATAL_FAILURE(ensureStreaming(c));
    peer->log.clear();
    for (int c = 1; c <= 3; ++c) ASSERT_TRUE(waitForCount(cardReply(c, kSample), 300)) << "card " << c;
    for (int c = 1; c <= 3; ++c) {
        const double bound = 0.5 * kNoiseLevel[c] * 0.01 * kFullScaleRange0;
        float low = 1e9f, high = -1e9f;
        for (const Frame& f : peer->log.withId({cardReply(c, kSample)})) {
            const float v = f.floatAt(0);
            EXPECT_LE(std::fabs(v), bound * (1 + 1e-6)) << "card " << c;
            EXPECT_EQ(f.data[4], 0);
            low = std::min(low, v);
            high = std::max(high, v);
        }
        EXPECT_GT(high - low, bound) << "card " << c << " samples carry no noise";
        const auto frequencies = peer->log.withId({cardReply(c, kFrequency)});
        ASSERT_FALSE(frequencies.empty());
        for (const Frame& f : frequencies) EXPECT_EQ(f.floatAt(0), 4999.5f);
    }
    // Peak and valley about once a second.
    for (int c = 1; c <= 3; ++c) ASSERT_TRUE(waitForCount(cardReply(c, kPeakValley), 1, 3s)) << "card " << c;
}

TEST_F(Mendra, AutorangeCyclesTheReportedRange) {
    const int c = 1;
    ASSERT_NO_FATAL_FAILURE(ensureStreaming(c));
    peer->log.clear();
    peer->can.sendSetRange(c, 4);
    ASSERT_TRUE(waitForCount(cardReply(c, kRange), 6));
    peer->can.sendSetRange(c, 0);
    ASSERT_TRUE(barrier(c));
    const auto ranges = peer->log.withId({cardReply(c, kRange)});
    for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(ranges[k].data[0], k % 4) << "report " << k;
    // Autorange off: the reply to range 0, and no further cycling.
    EXPECT_GE(ranges.size(), 7u);
    peer->log.clear();
    ASSERT_TRUE(waitForCount(cardReply(c, kSample), 100));
    EXPECT_EQ(peer->log.count(cardReply(c, kRange)), 0u);
}

TEST_F(Mendra, ModeCommandSetsTheRate) {
    const int c = 2;
    struct Case {
        int mode, freqRange;
        float rate;
    };
    const Case cases[] = {{1, 2, 12.8f}, {0, 5, 305.2f}, {1, 1, 305.2f}, {1, 4, 610.5f}, {2, 0, 610.5f}};
    peer->log.clear();
    for (const Case& k : cases) peer->can.sendSetMode(c, k.mode, k.freqRange);
    ASSERT_TRUE(waitForCount(cardReply(c, kMode), 5));
    const auto replies = peer->log.withId({cardReply(c, kMode)});
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(replies[k].data[0], cases[k].mode);
        EXPECT_EQ(replies[k].data[1], cases[k].freqRange);
        EXPECT_EQ(replies[k].floatAt(2), cases[k].rate);
    }
}

TEST_F(Mendra, ZeroRunReportsProgressWhileSamplesPause) {
    const int c = 3;
    ASSERT_NO_FATAL_FAILURE(ensureStreaming(c));
    peer->log.clear();
    peer->can.sendStartZero(c, 0);
    ASSERT_TRUE(waitForCount(cardReply(c, kZeroDone), 1, 30s));
    const auto frames = peer->log.withId({cardReply(c, kZeroProgress), cardReply(c, kZeroDone), cardReply(c, kSample)});
    std::vector<float> progress;
    std::size_t samplesDuring = 0;
    bool running = false;
    for (const Frame& f : frames) {
        if (command(f) == kZeroProgress) {
            progress.push_back(f.floatAt(0));
            running = true;
        } else if (command(f) == kSample && running) {
            ++samplesDuring;
        } else if (command(f) == kZeroDone) {
            EXPECT_EQ(f.data[0], 0);
            running = false;
        }
    }
    ASSERT_EQ(progress.size(), 42u);
    for (int i = 0; i <= 41; ++i) EXPECT_EQ(progress[i], static_cast<float>(100 * i) / 41) << i;
    EXPECT_LE(samplesDuring, 1u) << "at most a tick already under way";
    // Samples resume by themselves.
    const std::size_t before = peer->log.count(cardReply(c, kSample));
    EXPECT_TRUE(waitForCount(cardReply(c, kSample), before + 50));
    EXPECT_TRUE(mendra->waitForOutput("\n0\n2.43902\n4.87805\n"));
    EXPECT_TRUE(mendra->waitForOutput("\n100\n"));
}

// ---- Command line and stopping --------------------------------------------

// Also a name that fitted its former 20-byte buffer (16 to 19 characters),
// with which every node went on without a bus.
TEST(MendraProcess, RefusesAnInterfaceNameLongerThanABusName) {
    for (std::size_t length : {16, 25}) {
        testsupport::TempSandbox sandbox;
        testsupport::ChildProcess mendra;
        const std::string name(length, 'x');
        ASSERT_TRUE(mendra.start(testsupport::binPath("mendra"), {"-sandbox", sandbox.path(), "-can", name}));
        const int status = mendra.wait(10s);
        ASSERT_NE(status, -1) << "mendra kept running with " << name;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        EXPECT_NE(mendra.output().find("mendra: CAN interface name longer than 15 characters: " + name + "\n"),
                  std::string::npos)
            << mendra.output();
    }
}

// "-can NAME" picks the bus wherever it stands; other arguments are ignored,
// and "-can" as the last argument leaves the default "can0".
TEST(MendraProcess, TakesTheInterfaceNameFromItsCommandLine) {
    struct Case {
        std::vector<std::string> args;
        std::string bus;   // "" : a fresh private name, put where "@" stands
    };
    const Case cases[] = {
        {{"-can"}, "can0"},
        {{"extra", "-can", "@", "more"}, ""},
        {{"-can", "ignored", "-can", "@"}, ""},
    };
    for (const Case& k : cases) {
        testsupport::TempSandbox sandbox;   // a bus "can0" of its own
        const std::string bus = k.bus.empty() ? testsupport::uniqueBusName("mc") : k.bus;
        std::vector<std::string> args{"-sandbox", sandbox.path()};
        for (const std::string& a : k.args) args.push_back(a == "@" ? bus : a);
        BusPeer peer(bus);
        peer.start();
        testsupport::ChildProcess mendra;
        ASSERT_TRUE(mendra.start(testsupport::binPath("mendra"), args));
        EXPECT_TRUE(testsupport::waitUntil(
            [&] {
                if (peer.log.count(cardReply(1, kHello)) > 0) return true;
                peer.can.sendHello(1);
                return false;
            },
            10s, 50ms))
            << bus;
        EXPECT_TRUE(mendra.waitForOutput("Using CAN " + bus + "\n", 5s)) << mendra.output();
    }
}

TEST(MendraProcess, StopsCleanlyOnTermAndInterrupt) {
    testsupport::TempSandbox sandbox;
    for (int sig : {SIGTERM, SIGINT, SIGTERM}) {
        const std::string bus = testsupport::uniqueBusName("mp");
        BusPeer peer(bus);
        peer.start();
        testsupport::ChildProcess mendra;
        ASSERT_TRUE(mendra.start(testsupport::binPath("mendra"), {"-sandbox", sandbox.path(), "-can", bus}));
        ASSERT_TRUE(testsupport::waitUntil(
            [&] {
                if (peer.log.count(cardReply(3, kHello)) > 0) return true;
                peer.can.sendHello(3);
                return false;
            },
            10s, 50ms));
        // Busy: a send-all, a zero run and a capture waiting for its trigger.
        peer.can.sendSendAllRequest(1);
        peer.can.sendStartZero(2, 0);
        peer.can.sendTriggerMode(3, 1);
        peer.can.sendWaveformRequest(3, 1, 0, 2, 100);
        ASSERT_TRUE(testsupport::waitUntil([&] { return peer.log.count(cardReply(2, kZeroProgress)) > 0; }));
        kill(mendra.pid(), sig);
        const int status = mendra.wait(5s);
        ASSERT_NE(status, -1) << "mendra did not stop on signal " << sig;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << mendra.output();
    }
}

}  // namespace
