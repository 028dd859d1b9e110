// ErrorList: the error catalogue, loaded once from ErrorDefinitions.csv in
// the instrument's data folder, handing out copies of its records by code.
//
// File format: one definition per line, at most 255 characters, no header,
// no comments, eight comma-separated fields without quoting:
//
//   code,kind,display line 1,display line 2,display line 3,SCPI text,displayed,SCPI reported
//   -200,2,,,,Execution error,0,0
//
// Numbers are read like strtol in base 10 (leading blanks skipped, reading
// stops at the first non-digit, no digits reads as 0); flags are true when
// non-zero; texts are taken as they stand and are only ever data.  Text after
// an eighth comma is ignored.  A line that ends before one of its fields
// prints "error field N (" + line + ")" and is skipped; a line whose code
// field is empty is skipped silently; a later line with the same code
// replaces the earlier one; a line longer than 255 characters ends the load
// (what was loaded before it stays).  A missing file gives an empty catalogue.
//
// Codes the catalogue does not define still give a usable record: kind 2,
// "Unknown Error", displayed, not SCPI reported.
#pragma once

#include "runtime/TvlError.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class ErrorList {
public:
    // The catalogue of the instrument's data folder, created and loaded on
    // first use (safe when two threads make the first call at once); never
    // null, never freed.
    static ErrorList* instance();

    // An empty catalogue; load() fills it.
    ErrorList();
    virtual ~ErrorList();
    ErrorList(const ErrorList&) = delete;
    ErrorList& operator=(const ErrorList&) = delete;

    // A new copy of the code's record (or the "Unknown Error" record for an
    // undefined code).  The caller owns it; it is never null.
    std::unique_ptr<TvlError> lookup(int code) const;

    // Defines a code (empty detail), replacing any earlier definition.
    void add(int code, int kind, const std::string& displayLine1, const std::string& displayLine2,
             const std::string& displayLine3, const std::string& scpiText, bool displayed,
             bool scpiReported);

    // Reads a catalogue file into this catalogue (format above).
    void load(const std::string& path);

    // Number of defined codes.
    std::size_t size() const;

    // A number field as the catalogue reads it (format above), kept within
    // the range of an int.  The SCPI error queue's file uses the same.
    static int toInt(const std::string& text);

private:
    mutable std::mutex lock;
    std::map<int, TvlError> records;
};
