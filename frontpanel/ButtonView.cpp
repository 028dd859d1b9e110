#include "frontpanel/ButtonView.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "frontpanel/ButtonHandler.h"
#include "meter/MeterModel.h"

#include <chrono>
#include <thread>

namespace {
enum Key { kRange, kModeStep, kHold, kResetHolds, kRelative, kZero, kDown, kUp, kChannelKeys };
constexpr int kProbeReady = 2;
constexpr int kZeroingState = 1;
constexpr int kLeave = -1;

int firstKey(int channel) { return 8 * channel - 1; }
}  // namespace

ButtonBacklight::ButtonBacklight(int id, CANinterface* canLink) : keyId(id), link(canLink) {}

// No caller asks for kInitialLevel, so a level set is always sent.
void ButtonBacklight::setLevel(int level) {
    if (level == lastLevel) return;
    lastLevel = level;
    resend();
}

void ButtonBacklight::resend() {
    if (lastLevel == kInitialLevel) return;
    if (link) link->sendButtonBacklight(keyId, lastLevel);
    std::this_thread::sleep_for(std::chrono::microseconds(2000));
}

std::vector<std::pair<int, int>> channelKeyLevels(const ChannelKeyState& s) {
    std::vector<std::pair<int, int>> out;
    if (s.channelStatus != kProbeReady) {
        for (int k = 0; k < kChannelKeys; ++k) out.emplace_back(k, 0);
        return out;
    }
    int zeroKey = kLeave;
    if (s.manualZeroState != 0) {
        zeroKey = 0;
    } else {
        switch (s.zeroingState) {
        case 0: case 4: zeroKey = 0; break;
        case 2: case 3: zeroKey = 2; break;
        case kZeroingState:   // only the zero key lit (set at once: no dark blink)
            for (int k = 0; k < kChannelKeys; ++k) out.emplace_back(k, k == kZero ? 1 : 0);
            return out;
        default: break;
        }
    }
    if (zeroKey != kLeave) out.emplace_back(kZero, zeroKey);
    out.emplace_back(kRange, s.overRange ? 2 : 0);
    out.emplace_back(kHold, s.holdActive ? 1 : 0);
    out.emplace_back(kResetHolds, s.holdActive ? 1 : 0);
    if (s.relativeState == 0) out.emplace_back(kRelative, 0);
    else if (s.relativeState >= 1 && s.relativeState <= 3) out.emplace_back(kRelative, 1);
    const bool editing = s.relativeState == 3 || s.classifierMode == 2 || s.classifierMode == 3 ||
                         s.manualZeroState == 2;
    out.emplace_back(kDown, editing ? 1 : 0);
    out.emplace_back(kUp, editing ? 1 : 0);
    return out;
}

ButtonView::ButtonView(CANinterface* link, ButtonHandler* handler, MeterModel* meterModel) : meter(meterModel) {
    for (int id = 1; id <= kKeyCount; ++id) backlights.push_back(std::make_unique<ButtonBacklight>(id, link));
    if (meter) {
        for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot) {
            ChannelModel* ch = meter->getChannel(slot);
            // Every signal is reduced to its channel number.
            auto refresh = [this](int c) { refreshChannel(static_cast<unsigned>(c)); };
            ch->signalRangeChanged().connect([refresh](int c, int) { refresh(c); });
            ch->signalChannelStatusChanged().connect([refresh](int c, int) { refresh(c); });
            ch->signalHoldsChanged().connect([refresh](int c, bool, bool, bool, bool, bool) { refresh(c); });
            ch->signalRelativeStateChanged().connect([refresh](int c, int) { refresh(c); });
            ch->signalZeroingStateChanged().connect([refresh](int c, int) { refresh(c); });
            ch->signalOverRangeChanged().connect([refresh](int c, bool) { refresh(c); });
            ch->getClassifierController().signalChanged().connect([refresh](int c, int, int) { refresh(c); });
            ch->signalManualZeroStateChanged().connect([refresh](int c, int) { refresh(c); });
        }
    }
    if (handler) handler->signalArmed().connect(sigc::mem_fun(*this, &ButtonView::onEnterArmed));
    if (meter) meter->signalBackplaneReturned().connect(sigc::mem_fun(*this, &ButtonView::resendLevels));
}

void ButtonView::setLevel(int keyId, int level) { backlights[keyId - 1]->setLevel(level); }

int ButtonView::getLevel(int keyId) const {
    std::lock_guard<std::mutex> lock(ledMutex);
    return keyId >= 1 && keyId <= kKeyCount ? backlights[keyId - 1]->getLevel() : -1;
}

bool ButtonView::isDisabled() const {
    std::lock_guard<std::mutex> lock(ledMutex);
    return disabled;
}

void ButtonView::setSoftButtonCount(int n) {
    std::lock_guard<std::mutex> lock(ledMutex);
    if (disabled) return;
    softButtonCount = n;
    for (int k = 1; k <= 6; ++k) setLevel(k, k <= n ? 1 : 0);
}

void ButtonView::disable() {
    std::lock_guard<std::mutex> lock(ledMutex);
    disabled = true;
    for (int k = 1; k < kEnterKey; ++k) setLevel(k, 0);
}

void ButtonView::enable() {
    int count;
    {
        std::lock_guard<std::mutex> lock(ledMutex);
        disabled = false;
        count = softButtonCount;
    }
    setSoftButtonCount(count);
    for (unsigned c = 1; c <= 3; ++c) refreshChannel(c);
}

void ButtonView::refreshChannel(unsigned channel) {
    if (channel < 1 || channel > 3 || !meter) return;
    ChannelModel* ch = meter->getChannel(channel);
    const ChannelKeyState state{ch->getChannelStatus(),    ch->getZeroingState(),
                                ch->getManualZeroState(),  ch->getRelativeState(),
                                ch->getClassifierController().getMode(),
                                ch->isOverRange(),         ch->isHoldActive()};
    refreshChannel(channel, state);
}

void ButtonView::refreshChannel(unsigned channel, const ChannelKeyState& state) {
    if (channel < 1 || channel > 3) return;
    std::lock_guard<std::mutex> lock(ledMutex);
    if (disabled) return;
    const int k0 = firstKey(static_cast<int>(channel));
    for (const auto& change : channelKeyLevels(state)) setLevel(k0 + change.first, change.second);
}

void ButtonView::resendLevels() {
    std::lock_guard<std::mutex> lock(ledMutex);
    for (auto& backlight : backlights) backlight->resend();
}

void ButtonView::onEnterArmed(bool armed) {
    std::lock_guard<std::mutex> lock(ledMutex);
    setLevel(kEnterKey, armed ? 1 : 0);
}
