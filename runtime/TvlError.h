// TvlError: one instrument error record.  A value: copying it copies every
// field, the detail included.  Records come from the error catalogue
// (ErrorList::lookup), each one a copy of its own that belongs to whoever
// holds it.
#pragma once

#include <string>

class TvlError {
public:
    // Kinds (how the channel error handler presents a displayed error):
    // 1 beep only, 2 shown in turn for 10 s, 3 latched until the channel
    // loses its probe, 4 held until another kind-3/4 error replaces it.
    TvlError(int code, int kind, const std::string& displayLine1, const std::string& displayLine2,
             const std::string& displayLine3, const std::string& scpiText, bool displayed,
             bool scpiReported);
    virtual ~TvlError() = default;
    TvlError(const TvlError&) = default;
    TvlError& operator=(const TvlError&) = default;

    int getCode() const { return code; }
    int getKind() const { return kind; }
    std::string getDisplayLine1() const { return displayLine1; }
    std::string getDisplayLine2() const { return displayLine2; }
    std::string getDisplayLine3() const { return displayLine3; }
    std::string getScpiText() const { return scpiText; }
    bool isDisplayed() const { return displayed; }       // shown on the channel readout
    bool isScpiReported() const { return scpiReported; } // a copy goes to the SCPI error queue
    std::string getDetail() const { return detail; }     // empty when created
    void setDetail(const std::string& text) { detail = text; }

private:
    int code;
    int kind;
    std::string displayLine1;
    std::string displayLine2;
    std::string displayLine3;
    std::string scpiText;
    bool displayed;
    bool scpiReported;
    std::string detail;
};
