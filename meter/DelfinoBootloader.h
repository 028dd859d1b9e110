// DelfinoBootloader: sends the channel processors' program over the CAN bus.
//
// The program is the text file chanproc.a00 in the data folder: every
// whitespace-separated token of exactly two characters is one byte in
// hexadecimal, other tokens are ignored.  A run, on a thread of its own:
//   1. tells the front-panel controller (node 0) and the power supply
//      (node 6) that a load begins (notice 120), then waits 1.5 s;
//   2. switches the bus to 250000 bit/s: ifconfig down, bit-timing file,
//      ifconfig up (the bit rate it found is kept);
//   3. sends the bytes two per frame on identifier 0x001, 150 us apart;
//   4. keeps the run's duration in bootload.log (the last ten, oldest
//      first), switches the bus back to the saved bit rate and emits the
//      finished signal.
// Interface names starting with 'v' (virtual buses) skip the load: the run
// only emits the finished signal.
//
// Every run ends with the finished signal, also one that fails part-way: the
// instrument's start-up hangs on it.  A run that fails after taking the bus
// down brings it back up (with the saved bit rate when it was changed) and
// prints "Bootload Failed".  A second run is refused while one is going.
#pragma once

#include <sigc++/sigc++.h>

#include <array>
#include <atomic>
#include <deque>
#include <pthread.h>
#include <string>
#include <vector>

class DelfinoBootloader {
public:
    static constexpr const char* kBootloadBitrate = "250000";
    static constexpr int kDataIdentifier = 0x001;
    static constexpr int kNoticeValue = 120;
    static constexpr std::size_t kLogEntries = 10;

    explicit DelfinoBootloader(const char* interfaceName);
    // Waits for a run that is still going (unless called from the run's own
    // finished slot, which cannot wait for itself).
    virtual ~DelfinoBootloader();

    DelfinoBootloader(const DelfinoBootloader&) = delete;
    DelfinoBootloader& operator=(const DelfinoBootloader&) = delete;

    // Starts a run on a new thread.  0 on success, EBUSY while a run is
    // still going, otherwise the thread-creation error.
    int start();
    // One run on the caller's thread (start() runs this); refused (returns
    // false at once, no signal) while another run is going.
    bool bootload();
    bool isRunning() const { return running.load(); }
    // Waits for the run started last to end.
    void join();

    // Emitted at the end of every run, on the run's thread.  A plain signal,
    // as the CAN links' are: it is raised by one thread at a time (runs never
    // overlap) and connected or disconnected only while no run goes (before
    // start(), or by the run's own slot), so its emission holds no lock, and
    // its slot (the instrument's start-up step) may take the toolkit lock.
    sigc::signal<void>& signalFinished() { return finished; }

    const char* getInterfaceName() const { return interfaceName; }

    // A name that may go into a file path and a command line: 1 to 15
    // letters, digits, '_', '.', '-', and not "." or "..".
    static bool isValidInterfaceName(const char* name);
    // Two-character token to byte, as strtol with base 16 keeps its low byte
    // ("-1" gives 0xFF, "zz" gives 0).
    static unsigned char tokenValue(const std::string& token);
    // The frames of a program text, in file order: every whitespace-separated
    // token of exactly two characters is one byte (tokenValue), two bytes a
    // frame; a last odd byte is not sent.
    static std::vector<std::array<unsigned char, 2>> programFrames(const std::string& text);
    // The durations of a log text: decimal integers up to the first token
    // that is not one.
    static std::deque<long> parseLog(const std::string& text);

private:
    static void* threadEntry(void* self);
    // The run itself; returns true when every byte was sent.
    bool runLoad();
    bool ifconfig(const char* action);
    bool writeBitrate(const std::string& path, const std::string& bitrate);
    void updateLog(long durationMs);

    pthread_t thread{};
    bool threadStarted = false;
    char interfaceName[20] = {};
    sigc::signal<void> finished;
    std::atomic<bool> running{false};
};
