// ChannelModel: the card watch.  A card that falls silent while it should
// stream is given up (no card, no probe), so that no frozen reading is shown
// or served as a live one; a card given up, or one that restarted, is
// greeted and synced again as at start-up when it speaks, and gets the
// channel's settings again, so that its readings come back by themselves.
//
// No pause of the watch lasts for ever: what pauses the card's stream (a
// zero, a capture asked for, a command) lengthens the silence allowed by the
// longest course it can take, and the count runs on through it.  A card that
// sends no frame of any kind for that long is given up all the same.
//
// Threads: the tick runs on cardWatchTimer's thread, the reports on the
// link's reader; both take probeStateMutex for their decisions (the order:
// timer and probe signals -> probeStateMutex -> this model's signals).
#include "channel/ChannelModel.h"

#include "can/CANinterface.h"
#include "console/Console.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// The default floor: generous, so that a loaded machine never trips it.
constexpr long long kDefaultFloorMs = 5000;
// A slow stream is judged by its own period: this many samples missed.
constexpr double kSilentPeriods = 50.0;
// A greeting that brought no card-ready is repeated after this long.
constexpr nanoseconds kResyncRetry = std::chrono::seconds(3);

std::atomic<long long> cardWatchFloorMs{kDefaultFloorMs};

long long nowNs() {
    return std::chrono::duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void ChannelModel::setCardWatchFloor(milliseconds floor) { cardWatchFloorMs = floor.count(); }

milliseconds ChannelModel::getCardWatchFloor() { return milliseconds(cardWatchFloorMs.load()); }

bool ChannelModel::watching() const { return cardWatchFloorMs.load() > 0; }

milliseconds ChannelModel::silenceLimit() const {
    const milliseconds floor = getCardWatchFloor();
    const float rate = cardSampleRate;
    if (!std::isfinite(rate) || rate <= 0.0f) return floor;
    const double periods = kSilentPeriods * 1000.0 / rate;
    if (!(periods < 3.6e6)) return milliseconds(3600000);   // an hour at most
    return std::max(floor, milliseconds(static_cast<long long>(periods)));
}

// On the sample path: a flag, no clock.  The tick, once a second, turns it
// into the time the count starts from.
void ChannelModel::restartSilenceCount() {
    if (!cardSpoke.load(std::memory_order_relaxed)) cardSpoke.store(true, std::memory_order_relaxed);
}

std::shared_ptr<CANinterface> ChannelModel::pausingLink() {
    commandSent.store(true, std::memory_order_relaxed);
    return link();
}

nanoseconds ChannelModel::silentFor() const { return nanoseconds(nowNs() - silentSinceNs); }

// A card whose probe is not ready streams nothing: the count waits for the
// probe.  Once it is ready the card streams unless paused, and every pause is
// bounded (pauseLimit).
bool ChannelModel::expectsStream() const { return channelStatus == kChannelProbeReady; }

// The silence allowed now: the limit of a streaming card, lengthened by the
// longest course of what pauses the stream.  A zero ends by its time-out at
// the latest; a capture's record takes its points times decimation sample
// periods (a card waiting for a trigger goes on streaming).
milliseconds ChannelModel::pauseLimit() const {
    milliseconds pause{0};
    if (zeroingState == kZeroing) pause = std::max(pause, milliseconds(std::max(zeroTimeoutTimer.getPeriod(), 0)));
    if (captureRequestPending) pause = std::max(pause, milliseconds(captureRecordMs.load()));
    return silenceLimit() + pause;
}

void ChannelModel::markNoCard() {
    std::lock_guard<std::mutex> lock(probeStateMutex);
    noCard();
}

void ChannelModel::noCard() {
    cardPresent = false;
    // A settling still pending must not make the channel ready without a card.
    settlePending = false;
    settleTimer.stop();
    // A zero in progress went with its card.
    endZero(kZeroNoProbe);
    resetAveraging();
    channelStatus = kChannelNoProbe;
    channelStatusChanged.emit(channel, kChannelNoProbe);
}

void ChannelModel::greetCardAgain() {
    linkState = kLinkResyncing;
    resyncSinceNs = nowNs();
    if (auto l = link()) {
        l->sendHello(channel);
        l->sendSendAllRequest(channel);
    }
}

void ChannelModel::onCardWatchTick() {
    std::lock_guard<std::mutex> lock(probeStateMutex);
    const bool wasExpected = streamExpected;
    streamExpected = false;
    // A sign of life since the last tick starts the count here; the tick
    // period is small beside the silence limit.  A command after which the
    // card may pause a moment starts it once per silence, so that commands
    // sent again and again never keep a card that is gone.
    const bool spoke = cardSpoke.exchange(false, std::memory_order_relaxed);
    const bool commanded = commandSent.exchange(false, std::memory_order_relaxed);
    if (spoke) {
        silentSinceNs = nowNs();
        commandPauseTaken = false;
    } else if (commanded && !commandPauseTaken) {
        silentSinceNs = nowNs();
        commandPauseTaken = true;
    }
    if (!watching()) return;
    switch (linkState.load()) {
    case kLinkSynced:
        // The count runs while the card is meant to stream, through every
        // pause; it starts when the probe has become ready.
        streamExpected = expectsStream();
        if (!streamExpected || !wasExpected) {
            silentSinceNs = nowNs();
        } else if (silentFor() > pauseLimit()) {
            streamExpected = false;
            linkState = kLinkSilent;
            console::say("Channel ", channel, " card silent");
            noCard();
        }
        break;
    case kLinkSilent:
        if (auto l = link()) l->sendHello(channel);
        break;
    case kLinkResyncing:
        if (nanoseconds(nowNs() - resyncSinceNs.load()) > kResyncRetry) greetCardAgain();
        break;
    default:
        break;
    }
}

void ChannelModel::onCardSpoke(int probeReport) {
    if (!watching()) return;
    const int state = linkState;
    const bool givenUp = state == kLinkSilent || state == kLinkGivenUp;
    // A card reports a probe found only after it reported none: one that
    // reports it while the host holds a ready probe has started afresh.
    const bool restarted = state == kLinkSynced && probeReport == 1 && channelStatus == kChannelProbeReady;
    if (!givenUp && !restarted) return;
    console::say("Channel ", channel, restarted ? " card restarted" : " card back");
    greetCardAgain();
}

// The settings the card gets again: those taken when the link went down
// (the channel processors loaded again: what the load's own commands change
// is not the user's), else the channel's settings as they stand.
void ChannelModel::resendSettings() {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(resumeMutex);
        text.swap(resumeSettings);
    }
    if (text.empty()) text = settingsFileContents();
    {
        std::lock_guard<std::mutex> lock(settingsMutex);
        EarlySettings::Applying applying;   // the program's own settings, not a user's change
        std::istringstream in(text);
        applySettings(in);
    }
    startSettingsSaveTimer();
}
