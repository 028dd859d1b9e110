// Processor load from the kernel's cumulative time counters (the summary
// line of /proc/stat).  The meter model samples it from its timer thread to
// slow the waveform pacing while the processor is busy.
#pragma once

#include <cstdint>
#include <string>

class CpuMonitor {
public:
    // Reads the host's /proc/stat.
    CpuMonitor();
    // Reads the given file instead (a fixture in tests).
    explicit CpuMonitor(const std::string& statFile);
    virtual ~CpuMonitor() = default;

    // Load in percent since the previous reading (or since construction);
    // stores the new reading.  0 when no tick was counted in between or the
    // file cannot be read (the old counters are then kept).
    double sample();

private:
    struct Counters {
        std::uint32_t user = 0;
        std::uint32_t nice = 0;
        std::uint32_t system = 0;
        std::uint32_t idle = 0;
    };
    bool read(Counters& out) const;

    std::string file;
    Counters last;
};
