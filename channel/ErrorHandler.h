// ErrorHandler: what a channel's errors look and sound like.
//
// One handler per channel.  It follows the channel model's error and status
// signals, shows one error at a time on the channel's readout and copies the
// errors that the catalogue marks for remote reporting into the SCPI error
// queue, tagged "Channel <n>".  By kind of the raised record:
//   1      beep only; the shown error stays;
//   3, 4   replace the shown error at once (long tone), rotation stopped;
//          while a kind-3 record is shown every raised error is ignored,
//          a kind-4 record survives the channel status dropping to 0;
//   other  shown at once with a triple beep when nothing is shown, else
//          queued; queued records follow each other every 10 s, each with a
//          triple beep, and after the last the readout returns to code 0.
//
// The slots run on the channel's CAN reader thread, its timer threads and the
// handler's own timer thread; the readout reads the current error on the GUI
// thread.  Records are handed out as shared pointers, so a record that a
// reader still holds is never freed under it.
#pragma once

#include "runtime/Signal.h"
#include "runtime/Timer.h"

#include <sigc++/sigc++.h>

#include <deque>
#include <memory>
#include <mutex>

class ChannelModel;
class ErrorList;
class TvlError;

class ErrorHandler : public sigc::trackable {
public:
    using ErrorPtr = std::shared_ptr<const TvlError>;
    using SignalErrorChanged = tvl::Signal<ErrorPtr>;

    explicit ErrorHandler(ChannelModel* model);
    virtual ~ErrorHandler();

    ErrorHandler(const ErrorHandler&) = delete;
    ErrorHandler& operator=(const ErrorHandler&) = delete;

    // The record shown now (code 0: no error).  Never null; the caller may
    // keep it as long as it likes.
    ErrorPtr getCurrentError() const;
    // Emitted with the new current record whenever it is replaced.
    SignalErrorChanged& signalErrorChanged() { return errorChanged; }

    void onErrorRaised(int channel, int code);
    void onChannelStatusChanged(int channel, int status);
    void onRotateTimer();

    // Records waiting to be shown.
    std::size_t queuedCount() const;
    // Time each queued error is shown (10 000 ms); tests shorten it.
    void setRotationPeriod(int periodMs) { rotationTimer.setPeriod(periodMs); }

private:
    enum class Sound { kNone, kBeep, kLongTone, kTripleBeep };

    // Makes rec the shown record; called with opMutex held.
    void setCurrent(ErrorPtr rec);
    ErrorPtr noError() const;
    // Sounds the pattern (a triple beep then starts the rotation timer),
    // then, when changed, emits the current record; called after opMutex is
    // released.
    void announce(Sound sound, bool changed);

    std::deque<ErrorPtr> queue;
    ErrorPtr current;
    ErrorList* catalogue;
    SignalErrorChanged errorChanged;

    // Serialises the slots' changes of the queue, the current record and
    // the timer.  Beeps and errorChanged come after it is released: no
    // signal is raised while a data mutex is held.
    mutable std::recursive_mutex opMutex;
    // Guards `current` alone, so the readout never waits for a beep.
    mutable std::mutex currentMutex;
    // Last member: destroyed first, so its thread has ended before anything
    // its slot uses goes.
    Timer rotationTimer;
};
