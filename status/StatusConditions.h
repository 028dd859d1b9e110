// The conditions the channel and meter models report into the SCPI status
// registers, and the one table that gives each its register and bit.  A
// model says what holds (report(Condition::OverRange, 2, true)); only this
// table knows where SCPI shows it.
//
//   condition          register      bit by channel 1, 2, 3   (meter: one bit)
//   OverRange          measurement   0, 10, 13
//   ClassifierLow      measurement   1, 11, 14
//   ClassifierHigh     measurement   2, 12, 15
//   ProbeReady         measurement   3, 4, 5
//                      operation     4, 5, 6
//   RangeChange        operation     1, 2, 3
//   ProbeFault         questionable  8, 9, 10
//   Busy               operation     9             (meter)
//   NoChannelActive    operation     10            (meter)
//
// A report sets (on) or clears (off) the condition bits of the register
// manager's singleton, in the order of the table's rows.  A channel outside
// 1-3 reports nothing.
#pragma once

namespace status {

enum class Condition {
    OverRange,
    ClassifierLow,
    ClassifierHigh,
    ProbeReady,
    RangeChange,
    ProbeFault,
    Busy,
    NoChannelActive,
};

// A condition of channel 1-3.
void report(Condition condition, int channel, bool on);
// A condition of the meter as a whole.
void report(Condition condition, bool on);

}  // namespace status
