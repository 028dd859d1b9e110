#include "pages/ErrorDisplay.h"

#include "pages/TextPage.h"
#include "runtime/TvlError.h"
#include "status/ScpiErrorQueue.h"

#include <iomanip>
#include <sstream>

namespace {
constexpr std::size_t kMessageWidth = 38;
}

ErrorDisplay::ErrorDisplay(int x, int y, int w, int h) : Fl_Text_Display(x, y, w, h), textBuffer(0) {
    textpage::setUp(*this, textBuffer);
}

ErrorDisplay::~ErrorDisplay() { buffer(static_cast<Fl_Text_Buffer*>(nullptr)); }

std::string ErrorDisplay::formatErrors(const std::vector<TvlError>& errors) {
    std::ostringstream out;
    out << "\nSystem Errors, Oldest to Newest\n\n";
    if (errors.empty()) out << " No Errors\n";
    for (const TvlError& e : errors) {
        const std::string message = e.getScpiText() + " " + e.getDetail();
        out << ' ' << std::setw(6) << e.getCode() << "   " << message.substr(0, kMessageWidth) << '\n';
    }
    return out.str();
}

void ErrorDisplay::refresh() {
    // getErrors hands out copies: the records stay the queue's, and another
    // thread may take them out meanwhile.
    textpage::replace(textBuffer, formatErrors(ScpiErrorQueue::instance()->getErrors()));
}

std::string ErrorDisplay::text() const { return textpage::contents(textBuffer); }
