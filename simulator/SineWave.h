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

// The signal every card reports (its frequency frames) and captures.
constexpr double kSignalFrequencyHz = 4999.5;

// The card's captured signal: the samples, taken at the card's waveform
// sample period, of a sine of kSignalFrequencyHz with amplitude sqrt(2);
// sample 0 is exactly 0.  The sample period is that of the card's frequency
// range (TimebaseSpecTable::samplePeriodUs, 1.6 us by default), so that a
// capture shows on the host's time base the frequency that the card reports.
// The first kSize samples are a table; a sample past either end is computed
// the same way, so a capture window longer than the table never leaves the
// signal.
class SineTable {
public:
    static constexpr long long kSize = 80000;

    explicit SineTable(double samplePeriodUs = 1.6);
    double samplePeriodUs() const { return periodUs; }
    // Sample idx.
    double at(long long idx) const;

private:
    double sample(long long idx) const;

    double periodUs;
    double step;   // radians from one sample to the next
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
