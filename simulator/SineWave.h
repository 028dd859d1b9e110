// The simulated card's waveform source: a sine table and the trigger search
// that picks where a capture window starts in it.
#pragma once

#include <exception>
#include <vector>

// Thrown by the trigger search when no trigger lies in the table.
class TvlTriggerNotFound : public std::exception {
public:
    ~TvlTriggerNotFound() override = default;
    const char* what() const noexcept override { return "Error in header"; }
};

// 80,000 entries of sin(2*pi*i/400) * sqrt(2), entry 0 exactly 0.  The table
// is periodic (400 entries a period); reading past either end continues that
// period, so a capture window longer than the table never leaves it.
class SineTable {
public:
    static constexpr long long kSize = 80000;
    static constexpr long long kPeriod = 400;

    SineTable();
    // Entry idx for 0 <= idx < kSize; any other index is folded into the
    // table's last period (same phase).
    double at(long long idx) const;

private:
    std::vector<double> s;
};

// What a waveform request asks for (card command 0x02 sub-code 3).
struct WaveformRequest {
    int mode = 0;        // 0: no trigger
    int slope = 0;       // 0 rising, anything else falling
    int decimation = 0;  // table steps between points
    int count = 0;       // points
};

// The card's side of a trigger search.
struct TriggerSetup {
    int storedTriggerMode = 0;  // the card's last trigger mode (command 0x02 sub-code 0-2)
    double fieldLevel = 0.0;    // percent of full scale
    float fullScale = 0.0f;     // gauss
    float triggerLevel = 0.0f;  // gauss
};

// Returns the table index at which the capture window is centred.  Without a
// trigger (stored mode other than 1, or requested mode 0) that is the window's
// half width plus phase (0-100).  Otherwise the first index, stepping by the
// decimation from the half width, where the scaled sine crosses the trigger
// level on the requested slope; throws TvlTriggerNotFound when there is none
// (always so for decimation 0, where the search could never move).
long long findTrigger(const SineTable& table, const WaveformRequest& request,
                      const TriggerSetup& setup, int phase);

// First table index of the window around a trigger: trigger - decimation * (count / 2).
long long windowStart(long long trigger, const WaveformRequest& request);
