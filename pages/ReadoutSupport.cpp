#include "pages/ReadoutSupport.h"

#include "channel/ChannelModel.h"

#include <FL/fl_draw.H>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace readout {

// ---- Frame ------------------------------------------------------------------

void fillRounded(float l, float t, float w, float h, float r) {
    const float right = l + w;
    const float bottom = t + h;
    fl_begin_complex_polygon();
    fl_arc(l + r, t + r, r, 180.0, 90.0);
    fl_arc(right - r, t + r, r, 90.0, 0.0);
    fl_arc(right - r, bottom - r, r, 360.0, 270.0);
    fl_arc(l + r, bottom - r, r, 270.0, 180.0);
    fl_end_complex_polygon();
}

void outlineRounded(float l, float t, float w, float h, float r, float gapLeft, float gapRight) {
    const float right = l + w;
    const float bottom = t + h;
    fl_begin_line();
    fl_vertex(gapRight, t);
    fl_arc(right - r, t + r, r, 90.0, 0.0);
    fl_arc(right - r, bottom - r, r, 360.0, 270.0);
    fl_arc(l + r, bottom - r, r, 270.0, 180.0);
    fl_arc(l + r, t + r, r, 180.0, 90.0);
    fl_vertex(gapLeft, t);
    fl_end_line();
}

void Panel::fit(const Fl_Widget& widget) {
    left = static_cast<float>(widget.x()) + sideMargin;
    top = static_cast<float>(widget.y()) + topMargin;
    width = static_cast<float>(widget.w()) - 2.0f * sideMargin;
    height = static_cast<float>(widget.h()) - topMargin - bottomMargin;
}

void Panel::draw(unsigned textColor, unsigned backgroundColor, const char* title) const {
    constexpr int kTitleSize = 20;
    const bool titled = title && *title;
    int tw = 0, th = 0;
    if (titled) {
        fl_font(titleFont, kTitleSize);
        fl_measure(title, tw, th, 0);
    }
    fl_color(backgroundColor);
    fillRounded(left, top, width, height, cornerRadius);

    fl_color(textColor);
    fl_line_style(FL_SOLID, outlineWidth);
    if (titled)
        outlineRounded(left, top, width, height, cornerRadius, left + 20.0f, left + static_cast<float>(tw) + 40.0f);
    else
        outlineRounded(left, top, width, height, cornerRadius, left + cornerRadius, left + cornerRadius);
    fl_line_style(0);
    if (titled) {
        fl_font(titleFont, kTitleSize);
        fl_draw(title, static_cast<int>(left + 30.0f), static_cast<int>(top + static_cast<float>(th * 3 / 10)));
    }
}

// ---- Numbers ------------------------------------------------------------------

namespace {

// The one floating conversion of a format: where it starts and ends, and its
// flags, width and precision.  False when the format is not of that kind.
struct Conversion {
    std::size_t begin = 0, end = 0;
    std::string flags;
    int width = -1;
    int precision = -1;
    char letter = 'f';
};

bool parseConversion(const std::string& format, Conversion& c) {
    bool found = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        if (found) return false;   // a second conversion
        found = true;
        c.begin = i++;
        while (i < format.size() && std::strchr("-+ 0#", format[i])) c.flags += format[i++];
        auto number = [&](int& out) {
            if (i >= format.size() || !std::isdigit(static_cast<unsigned char>(format[i]))) return;
            out = 0;
            while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) {
                if (out < 1000) out = out * 10 + (format[i] - '0');
                ++i;
            }
        };
        number(c.width);
        if (i < format.size() && format[i] == '.') {
            ++i;
            c.precision = 0;
            number(c.precision);
        }
        if (i >= format.size() || !std::strchr("fFeEgG", format[i])) return false;
        c.letter = format[i];
        c.end = i + 1;
        i = c.end - 1;
    }
    return found;
}

int clampInt(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

char* formatNumber(char* out, std::size_t size, const std::string& format, double value) {
    if (size == 0) return out;
    Conversion c;
    if (!parseConversion(format, c)) {
        std::snprintf(out, size, "%.3f", value);
        return out;
    }
    std::string safe = format.substr(0, c.begin) + "%" + c.flags;
    if (c.width >= 0) safe += std::to_string(clampInt(c.width, 0, kMaxWidth));
    if (c.precision >= 0) safe += "." + std::to_string(clampInt(c.precision, 0, kMaxPrecision));
    safe += c.letter;
    safe += format.substr(c.end);
    std::snprintf(out, size, safe.c_str(), value);
    return out;
}

std::string editFormat(int decimals) {
    char text[16];
    std::snprintf(text, sizeof text, "%%07.%df", clampInt(decimals, 0, 5));
    return text;
}

int editHighlightIndex(int length, int selectedDigit, int decimals) {
    if (selectedDigit < 0) return -1;
    int s = selectedDigit;
    if (decimals > 0 && s >= decimals) ++s;
    const int index = length - 1 - s;
    return index >= 0 && index < length ? index : -1;
}

const char* filterText(int freqRange) {
    static const char* const kTexts[] = {
        "FILTER: 20Hz - 50kHz", "FILTER: 20Hz - 10kHz", "FILTER: 20Hz - 500Hz",
        "FILTER: 1Hz - 500Hz",  "FILTER: 1Hz - 50kHz",  "No Correction",
    };
    return freqRange >= 0 && freqRange <= 5 ? kTexts[freqRange] : "";
}

const char* noReadingText(const ChannelModel& channel) {
    if (!channel.isCardPresent()) return "No Card Present";
    const int status = channel.getChannelStatus();
    if (status == kChannelStarting) return "Initializing...";
    if (status == kChannelNoProbe) return "No Probe Connected";
    if (!channel.isReadingValid()) return "Configuring Probe";
    return nullptr;
}

}  // namespace readout
