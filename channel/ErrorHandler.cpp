#include "channel/ErrorHandler.h"

#include "channel/ChannelModel.h"
#include "runtime/ErrorList.h"
#include "runtime/Speaker.h"
#include "runtime/TvlError.h"
#include "scpi/ScpiErrorQueue.h"

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

void ErrorHandler::onErrorRaised(int channel, int code) {
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
        Speaker::instance()->beep();
    } else if (kind == kKindLatched || kind == kKindHeld) {
        rotationTimer.stop();
        setCurrent(rec);
        Speaker::instance()->longTone();
        errorChanged.emit(rec);
    } else if (getCurrentError()->getCode() != 0) {
        queue.push_back(rec);
    } else {
        setCurrent(rec);
        Speaker::instance()->tripleBeep();
        rotationTimer.start();
        errorChanged.emit(rec);
    }
}

void ErrorHandler::onRotateTimer() {
    std::lock_guard<std::recursive_mutex> lock(opMutex);
    // A latched or held record stopped the timer when it became current; an
    // expiry that was already on its way when that happened must not take it
    // down.
    const int kind = getCurrentError()->getKind();
    if (kind == kKindLatched || kind == kKindHeld) return;
    if (queue.empty()) {
        ErrorPtr none = noError();
        setCurrent(none);
        errorChanged.emit(none);
        return;
    }
    ErrorPtr next = queue.front();
    queue.pop_front();
    setCurrent(next);
    Speaker::instance()->tripleBeep();
    rotationTimer.start();
    errorChanged.emit(next);
}

void ErrorHandler::onChannelStatusChanged(int /*channel*/, int status) {
    std::lock_guard<std::recursive_mutex> lock(opMutex);
    if (status != 0 || getCurrentError()->getKind() == kKindHeld) return;
    ErrorPtr none = noError();
    setCurrent(none);
    errorChanged.emit(none);
}
