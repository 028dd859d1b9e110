#include "PagesFixture.h"

#include "channel/ChannelModel.h"
#include "platform/Platform.h"
#include "support/TestDisplay.h"
#include "widgets/GuiThread.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace pagestest {

namespace {
// Probe-data item kinds of the cards' probe messages.
enum { kModelFirst = 0, kModelSecond = 1, kSerialFirst = 2, kSerialSecond = 3, kDateFirst = 4, kDateSecond = 5,
       kConfiguration = 6, kMultiplier = 9 };

// Sends a text as two 7-byte halves through send(slot, bytes).
template <typename Send>
void sendHalves(const std::string& text, int firstSlot, Send send) {
    char half[2][7] = {};
    std::memcpy(half[0], text.data(), std::min<std::size_t>(text.size(), 7));
    if (text.size() > 7) std::memcpy(half[1], text.data() + 7, std::min<std::size_t>(text.size() - 7, 7));
    send(firstSlot, half[0]);
    send(firstSlot + 1, half[1]);
}
}  // namespace

namespace {
// Takes the instrument down after the last test: its links stop and its
// sandbox goes (the meter singleton itself lives on, idle, to the exit).
auto* const theInstrument = testsupport::RunWide<Instrument>::install();
}  // namespace

Instrument& Instrument::get() { return theInstrument->get(); }

Instrument::~Instrument() {
    testing::internal::CaptureStdout();
    meterModel->stopCan();
    gui::runPending();
    testing::internal::GetCapturedStdout();
}

Instrument::Instrument() : bus(testsupport::uniqueBusName("pg")) {
    gui::initGuiThread();
    testsupport::openTestDisplay();
    for (int slot = 1; slot <= 3; ++slot) cards.push_back(std::make_unique<channeltest::ScriptedCard>(bus, slot));
    boards = std::make_unique<CANinterface>(bus.c_str());
    testing::internal::CaptureStdout();
    meterModel = MeterModel::instance(bus.c_str());
    meterModel->startBackplane();
    // As the start-up step: the meter settings file, which starts its save timer.
    meterModel->loadSettings();
    // Card-ready connects the card replies and loads the channel settings; a
    // probe-removed report then ends the start-up wait (status 0).
    bool started = true;
    for (unsigned slot = 1; slot <= 3; ++slot) {
        cards[slot - 1]->out().sendCardReady(static_cast<int>(slot));
        started = removeProbe(slot) && started;
    }
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(started);
    EXPECT_TRUE(meterModel->isThreeChannelModel());
}

void Instrument::sendBoardTexts(unsigned slot, const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i)
        sendHalves(texts[i], static_cast<int>(2 * i), [&](int s, const char* b) {
            card(slot).out().sendBoardInfo(static_cast<int>(slot), s, b, 7);
        });
}

void Instrument::sendBackplaneTexts(const std::vector<std::string>& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i)
        sendHalves(texts[i], static_cast<int>(2 * i), [&](int s, const char* b) { boards->sendBackplaneBoardInfo(s, b, 7); });
}

void Instrument::sendVersions(int fpMajor, int fpMinor, int psuMajor, int psuMinor) {
    const char fp[3] = {static_cast<char>(fpMajor), 0, static_cast<char>(fpMinor)};
    const char psu[3] = {static_cast<char>(psuMajor), 0, static_cast<char>(psuMinor)};
    boards->sendRawFrame(0x029, 3, fp);
    boards->sendRawFrame(0x629, 3, psu);
}

bool Instrument::insertProbe(unsigned slot, int probeType, int probeClass, const std::string& model,
                             const std::string& serial, const std::string& calDate) {
    if (channel(slot).getChannelStatus() != kChannelNoProbe && !removeProbe(slot)) return false;
    CANinterface& out = card(slot).out();
    const int c = static_cast<int>(slot);
    auto item = [&](int kind, const std::string& text, std::size_t from, std::size_t count) {
        char bytes[7] = {};
        if (text.size() > from) std::memcpy(bytes, text.data() + from, std::min(count, text.size() - from));
        out.sendProbeDataBytes(c, kind, bytes, 7);
    };
    out.sendProbePresence(c, 1);
    item(kModelFirst, model, 0, 6);
    item(kModelSecond, model, 6, 6);
    item(kSerialFirst, serial, 0, 6);
    item(kSerialSecond, serial, 6, 4);
    item(kDateFirst, calDate, 0, 6);
    item(kDateSecond, calDate, 6, 4);
    const char config[7] = {2, 0, static_cast<char>(probeType), 0, 0, 1, static_cast<char>(probeClass)};
    out.sendProbeDataBytes(c, kConfiguration, config, 7);
    const char multiplier[7] = {0x3F, static_cast<char>(0x80), 0, 0};   // 1.0f
    out.sendProbeDataBytes(c, kMultiplier, multiplier, 7);
    return testsupport::waitUntil([&] { return channel(slot).getChannelStatus() == kChannelProbeReady; });
}

bool Instrument::removeProbe(unsigned slot) {
    card(slot).out().sendProbePresence(static_cast<int>(slot), 0);
    return testsupport::waitUntil([&] { return channel(slot).getChannelStatus() == kChannelNoProbe; });
}

std::string Instrument::readFile(const std::string& instrumentPath) const {
    return testsupport::readFile(file(instrumentPath));
}

void Instrument::writeFile(const std::string& instrumentPath, const std::string& contents) const {
    testsupport::writeFile(file(instrumentPath), contents);
}

std::vector<std::string> Instrument::standinCalls() const { return testsupport::lines(readFile("/var/log/standin.log")); }

}  // namespace pagestest

