#include "runtime/TvlError.h"

TvlError::TvlError(int code_, int kind_, const std::string& line1, const std::string& line2,
                   const std::string& line3, const std::string& scpi, bool displayed_,
                   bool scpiReported_)
    : code(code_), kind(kind_), displayLine1(line1), displayLine2(line2), displayLine3(line3),
      scpiText(scpi), displayed(displayed_), scpiReported(scpiReported_) {}
