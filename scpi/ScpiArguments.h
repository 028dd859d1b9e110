// How SCPI handlers read their arguments.  The command text a handler gets is
// upper-cased; it is read as white-space-separated words, the first being the
// header, the second the argument; further words are ignored.
//
//   argumentWord("RANG 2 X")     "2"      ("" when there is no second word)
//   textInteger("12ABC")         12       (leading digits as strtol reads
//   textInteger("ABC")           0         them in base 10; none gives 0)
//   textFloat("2.56V")           2.56f    (as strtof reads it; none gives 0)
//   streamInteger("STAT 1")      1        (read from the stream after the
//   streamFloat("OFFS 1E-3")     0.001f    header; unreadable gives 0)
//
// Integers are read in a wide type, so an argument of 4294967298 is that
// number, never 2: every range check happens before a value is narrowed.
// inRange() is false for NaN and the infinities.
#pragma once

#include <string>

namespace scpiarg {

std::string argumentWord(const std::string& command);
long long textInteger(const std::string& word);
float textFloat(const std::string& word);
long long streamInteger(const std::string& command);
float streamFloat(const std::string& command);

inline bool inRange(long long value, long long low, long long high) { return value >= low && value <= high; }
inline bool inRange(float value, float low, float high) { return value >= low && value <= high; }

// The comma-separated fields of an argument, read as std::getline reads
// them: "12,30" gives two, "12,30," two, "12,,5" three (the middle one
// empty), "" none.
int splitFields(const std::string& argument, std::string fields[], int maxFields);

}  // namespace scpiarg
