#include "pages/DateTimeDisplay.h"

#include "pages/FormText.h"
#include "platform/Platform.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Input.H>

namespace {

enum Row { kYearRow = 0, kMonthRow, kDayRow, kHourRow, kMinuteRow, kRowCount };

const struct {
    const char* label;
    const char* format;
    const char* name;
    int low;
    int high;
} kRows[kRowCount] = {
    {"Year: ", "%Y", "Year", 1900, 3000},
    {"Month: ", "%m", "Month", 1, 12},
    {"Day: ", "%d", "Day", 1, 31},   // any month: mktime carries the 31st on
    {"Hour: ", "%H", "Hour", 0, 23},
    {"Minute: ", "%M", "Minute", 0, 59},
};

const char* const kSetText = "Date and Time Have Been Set";
const char* const kClockFailedText = "Date and Time Could Not Be Set";
const char* const kHwclockFailedText = "Hardware Clock Could Not Be Set";

std::tm localNow() {
    const std::time_t now = platform::now();
    tzset();
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Sets the clock to the entered local time (seconds 0); the status text of
// the outcome.
const char* setClock(const int value[kRowCount]) {
    std::tm when = localNow();
    when.tm_year = value[kYearRow] - 1900;
    when.tm_mon = value[kMonthRow] - 1;
    when.tm_mday = value[kDayRow];
    when.tm_hour = value[kHourRow];
    when.tm_min = value[kMinuteRow];
    when.tm_sec = 0;
    when.tm_isdst = -1;   // summer time as on that date, not as today
    const std::time_t t = mktime(&when);
    if (t == static_cast<std::time_t>(-1) || platform::setSystemTime(t) != 0) return kClockFailedText;
    if (platform::runCommand({platform::path::kHwclock, "--systohc"}) != 0) return kHwclockFailedText;
    return kSetText;
}

}  // namespace

DateTimeDisplay::DateTimeDisplay(int x, int y, int w, int h, const char* label) : Form(x, y, w, h, label) {
    for (const auto& row : kRows) addInput(row.label);
    addStatusBox();
    hideMessage();
    end();
}

void DateTimeDisplay::showCurrentTime() {
    const std::tm local = localNow();
    for (int r = 0; r < kRowCount; ++r) {
        char text[20];
        if (std::strftime(text, sizeof text, kRows[r].format, &local) == 0) text[0] = '\0';
        getInput(r)->value(text);
    }
}

std::string DateTimeDisplay::validate(int year, int month, int day, int hour, int minute) {
    const int value[kRowCount] = {year, month, day, hour, minute};
    std::string message;
    int invalid = 0;
    for (int r = 0; r < kRowCount; ++r) {
        if (value[r] >= kRows[r].low && value[r] <= kRows[r].high) continue;
        message += invalid++ > 0 ? ", " : " ";
        message += kRows[r].name;
    }
    return invalid > 0 ? "Invalid" + message : "";
}

void DateTimeDisplay::applySettings() {
    int value[kRowCount];
    {
        gui::Lock lock;
        hideMessage();
        redraw();
        for (int r = 0; r < kRowCount; ++r) value[r] = formtext::toInt(getInput(r)->value());
    }
    std::string message = validate(value[kYearRow], value[kMonthRow], value[kDayRow], value[kHourRow], value[kMinuteRow]);
    // Only a valid date and time ever reaches the clock.
    if (message.empty()) message = setClock(value);
    gui::Lock lock;
    showMessage(message.c_str());
    redraw();
}
