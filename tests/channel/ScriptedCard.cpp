#include "ScriptedCard.h"

#include "support/TestSupport.h"

#include <cstring>

namespace channeltest {

namespace {
constexpr unsigned kHostNode = 1;

unsigned commandOf(const can_frame& f) {
    return f.can_id == kClassifierId ? kClassifierId : (f.can_id & 0x1F);
}

void putFloat(char* d, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    d[0] = static_cast<char>(bits >> 24);
    d[1] = static_cast<char>(bits >> 16);
    d[2] = static_cast<char>(bits >> 8);
    d[3] = static_cast<char>(bits);
}
}  // namespace

float gainOf(const can_frame& f) {
    const std::uint32_t bits = std::uint32_t(f.data[1]) << 24 | std::uint32_t(f.data[2]) << 16 |
                               std::uint32_t(f.data[3]) << 8 | f.data[4];
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

ScriptedCard::ScriptedCard(const std::string& bus, int ch)
    : cardChannel(ch), cardNode(static_cast<unsigned>(ch) + 2),
      sender(std::make_unique<CANinterface>(bus.c_str())),
      listener(platform::openCanTransport(bus.c_str())) {
    // A scripted card streams only when a test feeds it: the card watch
    // would give it up between feeds.  Tests of the watch switch it on.
    ChannelModel::setCardWatchFloor(std::chrono::milliseconds(0));
    recorder = std::thread([this] { recordLoop(); });
}

ScriptedCard::~ScriptedCard() {
    stop = true;
    listener->wake();
    recorder.join();
}

void ScriptedCard::recordLoop() {
    while (!stop) {
        can_frame f{};
        if (listener->read(f, 50) <= 0) continue;
        const unsigned source = (f.can_id >> 8) & 7;
        const unsigned destination = (f.can_id >> 5) & 7;
        if (source != kHostNode) continue;
        if (f.can_id != kClassifierId && destination != cardNode) continue;
        {
            std::lock_guard<std::mutex> lock(mutex);
            recorded.push_back(f);
        }
        answer(f);
    }
}

void ScriptedCard::answer(const can_frame& f) {
    if (f.can_id == kClassifierId) return;
    switch (f.can_id & 0x1F) {
    case kHello:
        if (answerHello) sender->sendHelloReply(cardChannel);
        break;
    case kSetRange:
        if (echoRange) sender->sendRangeReply(cardChannel, f.data[0]);
        break;
    case kSetMode:
        if (echoMode) sender->sendModeReply(cardChannel, f.data[0], f.data[1], sampleRate);
        break;
    case kDadc:
        if (f.data[0] == 2 && answerQueries) {
            if (queryDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(queryDelayMs));
            char d[5] = {0};
            putFloat(d + 1, queryValue);
            sender->sendRawFrame(static_cast<int>(cardNode << 8 | kHostNode << 5 | kDadc), 5, d);
            ++answeredQueries;
        }
        break;
    default:
        break;
    }
}

std::vector<can_frame> ScriptedCard::frames(unsigned command) const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<can_frame> out;
    for (const auto& f : recorded)
        if (commandOf(f) == command) out.push_back(f);
    return out;
}

bool ScriptedCard::waitForCount(unsigned command, std::size_t n, std::chrono::milliseconds deadline) const {
    return testsupport::waitUntil([&] { return count(command) >= n; }, deadline);
}

void ScriptedCard::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    recorded.clear();
}

void ScriptedCard::insertProbe(int probeClass) {
    sender->sendProbePresence(cardChannel, 1);
    const char config[7] = {2, 0, 0, 0, 0, 1, static_cast<char>(probeClass)};
    sender->sendProbeDataBytes(cardChannel, 6, config, 7);
    char multiplier[7] = {0};
    putFloat(multiplier, 1.0f);
    sender->sendProbeDataBytes(cardChannel, 9, multiplier, 7);
}

void ScriptedCard::removeProbe() {
    sender->sendProbePresence(cardChannel, 0);
}

void ScriptedCard::sendSamples(float value, int n, int status) {
    for (int i = 0; i < n; ++i) sender->sendSample(cardChannel, value, status);
}

}  // namespace channeltest
