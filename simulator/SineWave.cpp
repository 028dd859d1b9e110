#include "simulator/SineWave.h"

#include <algorithm>
#include <cmath>

SineTable::SineTable(double samplePeriod) : periodUs(samplePeriod), s(kSize) {
    const double twoPi = 6.283185307179586;
    step = twoPi * kSignalFrequencyHz * samplePeriod * 1.0e-6;
    s[0] = 0.0;
    for (long long i = 1; i < kSize; ++i) s[static_cast<std::size_t>(i)] = sample(i);
}

double SineTable::sample(long long idx) const {
    const double root2 = 1.4142135623730951;
    return idx == 0 ? 0.0 : std::sin(step * static_cast<double>(idx)) * root2;
}

double SineTable::at(long long idx) const {
    if (idx >= 0 && idx < kSize) return s[static_cast<std::size_t>(idx)];
    return sample(idx);
}

long long findTrigger(const SineTable& table, const WaveformRequest& request,
                      const TriggerSetup& setup, int phase) {
    const long long decimation = request.decimation;
    const long long start = decimation * (request.count / 2);
    if (setup.storedTriggerMode != 1 || request.mode == 0) return start + phase;

    // A step of 0 compares a point with itself: no crossing, and a search
    // that never moves.
    if (decimation <= 0) throw TvlTriggerNotFound();

    const double k = setup.fieldLevel * 0.01 * setup.fullScale;
    const double t = setup.triggerLevel;
    // For fewer than two points the window has no left half; the first
    // candidate still needs a point before it inside the table.
    for (long long idx = std::max(start, decimation); idx < SineTable::kSize; idx += decimation) {
        const double before = k * table.at(idx - decimation);
        const double here = k * table.at(idx);
        if (request.slope == 0) {
            if (before < t && t <= here) return idx;
        } else {
            if (before > t && t >= here) return idx;
        }
    }
    throw TvlTriggerNotFound();
}

long long windowStart(long long trigger, const WaveformRequest& request) {
    return trigger - static_cast<long long>(request.decimation) * (request.count / 2);
}
