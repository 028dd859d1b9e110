// The timed behaviour of a simulated card: a tick of its stream (on the
// stream ticker's thread), zero runs and waveform captures on threads of
// their own.
#include "can/CANinterface.h"
#include "console/Console.h"
#include "ranges/RangeSpecTable.h"
#include "ranges/TimebaseSpecTable.h"
#include "simulator/ChannelSim.h"

#include <pthread.h>

#include <cstdlib>
#include <string>

using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// "stream1", "zero2" ...: shows which card a thread serves in ps and top.
void nameThread(const char* role, int channel) {
    const std::string name = role + std::to_string(channel);
    pthread_setname_np(pthread_self(), name.c_str());
}

}  // namespace

void ChannelSim::_streamTick() {
    if (!(enabled && synced && probeStatus == 2 && !zeroing)) return;
    const int period = tickPeriodUs;
    const int r = std::rand();
    const float fs = fullScale();
    const double u = 0.01 * noiseLevel * (r - 1073741823) / 2147483647.0;
    const float value = static_cast<float>(fs * (fieldLevel * 0.01) - static_cast<float>(u * fs));
    const int status = (statusBit0 ? 1 : 0) | (statusBit1 ? 2 : 0);
    link->sendSample(channel, value, status);
    link->sendFrequency(channel, static_cast<float>(kSignalFrequencyHz));

    const float p = value * 1.15f;
    if (p > peakMax) peakMax = p;
    if (peakMin > p) peakMin = p;

    if (peakTicks >= 1000000 / period) {
        link->sendPeakValley(channel, peakMax, peakMin);
        peakTicks = 0;
    } else {
        ++peakTicks;
    }

    if (autorange) {
        if (++autorangeTicks > 14) {
            link->sendRangeReply(channel, autorangeCycle % 4);
            ++autorangeCycle;
            autorangeTicks = 0;
        }
    }
}

void ChannelSim::_zeroLoop() {
    nameThread("zero", channel);
    zeroing = true;
    link->sendZeroingProgress(channel, 0.0f);
    console::say(0);
    if (!stopFlag.sleepFor(milliseconds(500))) return;
    for (int i = 1; i <= 41; ++i) {
        const float x = static_cast<float>(100 * i) / 41;
        link->sendZeroingProgress(channel, x);
        console::say(x);
        if (!stopFlag.sleepFor(milliseconds(500))) return;
    }
    link->sendZeroDone(channel, 0);
    zeroing = false;
}

// ---- Waveform capture -----------------------------------------------------

void ChannelSim::_handleWaveformRequest(int requestMode, int slope, int decimation, int count) {
    // Set here, on the reader thread, so that a stop-waiting that follows the
    // request is never overtaken by the capture thread.
    waitingForTrigger = true;
    {
        std::lock_guard<std::mutex> lock(captureMutex);
        pendingCapture = WaveformRequest{requestMode, slope, decimation, count};
    }
    captureCv.notify_all();
}

void ChannelSim::_captureLoop() {
    nameThread("capture", channel);
    std::unique_lock<std::mutex> lock(captureMutex);
    while (true) {
        captureCv.wait(lock, [this] { return captureStopping || pendingCapture.has_value(); });
        if (captureStopping) return;
        const WaveformRequest request = *pendingCapture;
        pendingCapture.reset();
        lock.unlock();
        _captureWaveform(request);
        lock.lock();
    }
}

// The signal at the sample period of the card's present frequency range.
// Called once per capture, on the capture thread.
const SineTable& ChannelSim::_sineTable() {
    const double period = TimebaseSpecTable::samplePeriodUs(freqRange);
    if (period > 0.0 && period != sine->samplePeriodUs()) sine = std::make_unique<SineTable>(period);
    return *sine;
}

long long ChannelSim::_findTrigger(const WaveformRequest& request, const SineTable& table) {
    const int phase = std::rand() / 21474836;
    TriggerSetup setup;
    setup.storedTriggerMode = triggerMode;
    setup.fieldLevel = fieldLevel;
    setup.fullScale = fullScale();
    setup.triggerLevel = triggerLevel;
    return findTrigger(table, request, setup, phase);
}

void ChannelSim::_captureWaveform(const WaveformRequest& request) {
    const SineTable& wave = _sineTable();
    long long trigger;
    while (true) {
        try {
            trigger = _findTrigger(request, wave);
            break;
        } catch (const TvlTriggerNotFound&) {
            if (!stopFlag.sleepFor(microseconds(100000))) return;
            if (!waitingForTrigger) return;
            // A newer request replaces the one still waiting.
            std::lock_guard<std::mutex> lock(captureMutex);
            if (pendingCapture) return;
        }
    }

    const long long first = windowStart(trigger, request);
    link->sendWaveformStart(channel, request.count);
    const double level = fieldLevel;
    const double gain = level >= 0.0 ? fullScale() * level * 0.01 : 0.0;
    const long long step = request.decimation;
    for (long long i = 0; i < request.count; i += 2) {
        const float a = static_cast<float>(gain * wave.at(first + i * step));
        const float b = static_cast<float>(gain * wave.at(first + (i + 1) * step));
        link->sendWaveformData(channel, a, b);
    }
    link->sendWaveformEnd(channel);
}
