// The system error page: the entries of the SCPI error queue, oldest first,
// one line each (code right-aligned in 6 characters, then the first 38
// characters of the message text and detail), or "No Errors".  The text is
// rebuilt whole by refresh(), from copies of the queue's records.
//
// refresh() runs on the GUI thread.
#pragma once

#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>

#include <string>
#include <vector>

class TvlError;

class ErrorDisplay : public Fl_Text_Display {
public:
    ErrorDisplay(int x, int y, int w, int h);
    ~ErrorDisplay() override;
    ErrorDisplay(const ErrorDisplay&) = delete;
    ErrorDisplay& operator=(const ErrorDisplay&) = delete;

    // Replaces the text with the present entries of the program's queue.
    void refresh();

    // The page's text for these records.
    static std::string formatErrors(const std::vector<TvlError>& errors);

    // The page's present text (what refresh wrote).
    std::string text() const;

private:
    Fl_Text_Buffer textBuffer;
};
