// Speaker: the instrument's beeper, four fixed patterns sounded with the
// console tone request on the console device (platform::path::kConsoleTty).
//
//   pattern     tones  each     argument   count (frequency)  pause after each
//   beep          2    50 ms    3277993    1193 (~1000 Hz)    100 ms
//   longTone      1    1000 ms  65538651   2651 (~450 Hz)     500 ms
//   tripleBeep    3    100 ms   6555003    1403 (~850 Hz)     200 ms
//   shortBeep     1    100 ms   6555003    1403 (~850 Hz)     200 ms
//
// argument = (duration in ms << 16) | (1193180 / frequency).  Each pattern
// opens the device read-only, issues its tones with their pauses (the kernel
// plays a tone asynchronously, so a pause counts from the start of its tone)
// and closes it again; it blocks its caller for the sum of the pauses.  When
// the device cannot be opened the pattern returns at once, silently.  Patterns
// may run on several threads at once.
#pragma once

class Speaker {
public:
    // The one beeper, created on first use; never null, never freed.
    static Speaker* instance();

    void beep();
    void longTone();
    void tripleBeep();
    void shortBeep();

    // Tone-request argument: (durationMs << 16) | count.
    static unsigned long toneArgument(unsigned durationMs, unsigned count);

    Speaker() = default;
    virtual ~Speaker() = default;
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;

};
