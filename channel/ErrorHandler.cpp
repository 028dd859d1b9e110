#include "channel/ErrorHandler.h"

#include "channel/ChannelModel.h"
#include "runtime/ErrorList.h"
#include "runtime/Speaker.h"
#include "runtime/TvlError.h"
#include "status/ScpiErrorQueue.h"

#include <memory>
#include <string>
#include <utility>

namespace {
constexpr int kRotationPeriodMs = 10000;
constexpr int kKindBeepOnly = 1;
constexpr int kKindLatched = 3;
constexpr int kKindHeld = 4;
}  // namespace

ErrorHandler::ErrorHandler(ChannelModel* model)
    : catalogue(ErrorList::instance()), rotationTimer(kRotationPeriodMs, false) {
    current = noError();
    model->signalError().connect(sigc::mem_fun(*this, &ErrorHandler::onErrorRaised));
    model->signalChannelStatusChanged().connect(
        sigc::mem_fun(*this, &ErrorHandler::onChannelStatusChanged));
    rotationTimer.signalTimeout().connect(sigc::mem_fun(*this, &ErrorHandler::onRotateTimer));
}

ErrorHandler::~ErrorHandler() {
    rotationTimer.stop();
}

ErrorHandler::ErrorPtr ErrorHandler::noError() const {
    return ErrorPtr(catalogue->lookup(0));
}

ErrorHandler::ErrorPtr ErrorHandler::getCurrentError() const {
    std::lock_guard<std::mutex> lock(currentMutex);
    return current;
}

std::size_t ErrorHandler::queuedCount() const {
    std::lock_guard<std::recursive_mutex> lock(opMutex);
    return queue.size();
}

void ErrorHandler::setCurrent(ErrorPtr rec) {
    std::lock_guard<std::mutex> lock(currentMutex);
    current = std::move(rec);
}

// What a slot sounds and announces once it has released opMutex.  A record
// shown with a triple beep gets its 10 s from the end of the beep; should a
// latched or held record have come in meanwhile, the expiry leaves it alone.
// The signal carries the record current when it is emitted, so a slot never
// gets one that another thread has replaced during the beep.
void ErrorHandler::announce(Sound sound, bool changed) {
    switch (sound) {
    case Sound::kBeep: Speaker::instance()->beep(); break;
    case Sound::kLongTone: Speaker::instance()->longTone(); break;
    case Sound::kTripleBeep:
        Speaker::instance()->tripleBeep();
        rotationTimer.start();
        break;
    case Sound::kNone: break;
    }
    if (changed) errorChanged.emit(getCurrentError());
}

void ErrorHandler::onErrorRaised(int channel, int code) {
    Sound sound = Sound::kNone;
    ErrorPtr shown;
    {
        std::lock_guard<std::recursive_mutex> lock(opMutex);
        if (getCurrentError()->getKind() == kKindLatched) return;

        std::shared_ptr<TvlError> rec(catalogue->lookup(code));
        if (rec->isScpiReported()) {
            std::unique_ptr<TvlError> copy(new TvlError(*rec));
            copy->setDetail("Channel " + std::to_string(channel));
            ScpiErrorQueue::instance()->push(std::move(copy));
        }
        if (!rec->isDisplayed()) return;

        const int kind = rec->getKind();
        if (kind == kKindBeepOnly) {
            sound = Sound::kBeep;
        } else if (kind == kKindLatched || kind == kKindHeld) {
            rotationTimer.stop();
            setCurrent(rec);
            sound = Sound::kLongTone;
            shown = rec;
        } else if (getCurrentError()->getCode() != 0) {
            queue.push_back(rec);
        } else {
            setCurrent(rec);
            sound = Sound::kTripleBeep;
            shown = rec;
        }
    }
    announce(sound, shown != nullptr);
}

void ErrorHandler::onRotateTimer() {
    Sound sound = Sound::kNone;
    ErrorPtr shown;
    {
        std::lock_guard<std::recursive_mutex> lock(opMutex);
        // A latched or held record stopped the timer when it became current;
        // an expiry that was already on its way when that happened must not
        // take it down.
        const int kind = getCurrentError()->getKind();
        if (kind == kKindLatched || kind == kKindHeld) return;
        if (queue.empty()) {
            shown = noError();
        } else {
            shown = queue.front();
            queue.pop_front();
            sound = Sound::kTripleBeep;
        }
        setCurrent(shown);
    }
    announce(sound, shown != nullptr);
}

void ErrorHandler::onChannelStatusChanged(int /*channel*/, int status) {
    ErrorPtr none;
    {
        std::lock_guard<std::recursive_mutex> lock(opMutex);
        if (status != 0 || getCurrentError()->getKind() == kKindHeld) return;
        none = noError();
        setCurrent(none);
    }
    announce(Sound::kNone, true);
}
