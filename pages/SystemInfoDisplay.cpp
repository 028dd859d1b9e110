#include "pages/SystemInfoDisplay.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "pages/TextPage.h"

#include "Version.h"

#include <sstream>

namespace {

const char* const kProbeTypeNames[] = {
    "1 Axis Trans", "1 Axis Axial", "2 Axis Std",   "2 Axis Prec",
    "3 Axis Std",   "3 Axis Prec",  "3 Axis Ang S", "3 Axis Ang P",
};
const char* const kProbeClassNames[] = {
    "Ultra Low F", "Korvix", "Low Field", "1X", "10X", "100X", "1000X",
};
const char* const kUnknownName = "Unknown";
const char* const kRule = "------------";

template <std::size_t N>
const char* nameOf(const char* const (&names)[N], int code) {
    const unsigned index = static_cast<unsigned>(code);
    return index < N ? names[index] : kUnknownName;
}

// text, blank-padded to width (longer text is written whole).
std::string pad(const std::string& text, int width) {
    std::string s = text;
    if (static_cast<int>(s.size()) < width) s.append(width - s.size(), ' ');
    return s;
}

// One row of a per-slot block: the label and the channel's text.  A probe row
// shows `absent` instead while the channel's probe is not ready.  Texts that
// cards and probes send may be cut to the column; the names of the type and
// class tables always fit.
struct SlotRow {
    const char* label;
    std::string (*value)(const ChannelModel&);
    bool needsProbe;
    const char* absent;
    bool cuttable;
};

const SlotRow kBoardRows[] = {
    {"Model:", [](const ChannelModel& c) { return c.getBoardModel(); }, false, "", true},
    {"Rev:", [](const ChannelModel& c) { return c.getBoardRev(); }, false, "", true},
    {"Serial:", [](const ChannelModel& c) { return c.getBoardSerial(); }, false, "", true},
    {"Cal Date:", [](const ChannelModel& c) { return c.getBoardCalDate(); }, false, "", true},
};

const SlotRow kProbeRows[] = {
    {"Class:", [](const ChannelModel& c) { return std::string(SystemInfoDisplay::probeClassName(c.getProbeClass())); },
     true, "No Probe", false},
    {"Type:", [](const ChannelModel& c) { return std::string(SystemInfoDisplay::probeTypeName(c.getProbeType())); },
     true, "", false},
    {"Model:", [](const ChannelModel& c) { return c.getProbeModel(); }, true, "", true},
    {"Serial:", [](const ChannelModel& c) { return c.getProbeSerialNumber(); }, true, "", true},
    {"Cal Date:", [](const ChannelModel& c) { return c.getProbeCalibrationDate(); }, true, "", true},
};

}  // namespace

SystemInfoDisplay::SystemInfoDisplay(int x, int y, int w, int h) : Fl_Text_Display(x, y, w, h), textBuffer(0) {
    textpage::setUp(*this, textBuffer);
}

SystemInfoDisplay::~SystemInfoDisplay() {
    // The toolkit's destructor would still unhook itself from the buffer,
    // which is destroyed first: detach it here.
    buffer(static_cast<Fl_Text_Buffer*>(nullptr));
}

std::string SystemInfoDisplay::fitToColumn(const std::string& text) const {
    return text.substr(0, static_cast<std::size_t>(valueWidth - 1));
}

std::string SystemInfoDisplay::fitToColumn(const char* text) const { return fitToColumn(std::string(text ? text : "")); }

const char* SystemInfoDisplay::probeTypeName(int code) { return nameOf(kProbeTypeNames, code); }
const char* SystemInfoDisplay::probeClassName(int code) { return nameOf(kProbeClassNames, code); }

std::string SystemInfoDisplay::text() const { return textpage::contents(textBuffer); }

void SystemInfoDisplay::setText(const std::string& text) { textpage::replace(textBuffer, text); }

std::string SystemInfoDisplay::buildText(const std::vector<ChannelModel*>& slots, bool cut,
                                         const std::vector<std::string>& channelHeadings,
                                         const std::vector<std::string>& probeHeadings, int headingLead) const {
    const MeterModel* meter = MeterModel::instance();
    const std::string lead(indent, ' ');
    auto value = [&](const std::string& text, bool cuttable) {
        return pad(cut && cuttable ? fitToColumn(text) : text, valueWidth);
    };
    std::ostringstream out;
    auto headings = [&](const std::vector<std::string>& names, int leadWidth) {
        out << lead << pad("", leadWidth);
        for (const auto& name : names) out << pad(name, valueWidth);
        out << '\n' << lead << pad("", labelWidth);
        for (std::size_t i = 0; i < names.size(); ++i) out << pad(kRule, valueWidth);
        out << '\n';
    };

    out << "\n\n";
    headings({"Meter"}, labelWidth);
    const struct {
        const char* label;
        std::string text;
        bool cuttable;
    } meterRows[] = {
        {"Model:", meter->getBackplaneModel(), true},
        {"Serial:", meter->getBackplaneSerial(), true},
        {"Cal Date:", meter->getBackplaneCalDate(), true},
        {"Firmware:", tvl::kSoftwareVersion, false},
        {"FP:", meter->getFrontPanelFirmwareVersion(), false},
        {"BP:", meter->getPsuFirmwareVersion(), false},
    };
    for (const auto& row : meterRows) out << lead << pad(row.label, labelWidth) << value(row.text, row.cuttable) << '\n';

    auto block = [&](const SlotRow* rows, std::size_t count) {
        for (std::size_t r = 0; r < count; ++r) {
            out << lead << pad(rows[r].label, labelWidth);
            for (ChannelModel* channel : slots) {
                const bool shown = !rows[r].needsProbe || channel->getChannelStatus() == kChannelProbeReady;
                out << (shown ? value(rows[r].value(*channel), rows[r].cuttable) : pad(rows[r].absent, valueWidth));
            }
            out << '\n';
        }
    };
    out << "\n\n";
    headings(channelHeadings, headingLead);
    block(kBoardRows, std::size(kBoardRows));
    out << "\n\n";
    headings(probeHeadings, headingLead);
    block(kProbeRows, std::size(kProbeRows));
    return out.str();
}

SystemInfo4730Display::SystemInfo4730Display(int x, int y, int w, int h) : SystemInfoDisplay(x, y, w, h) {}

void SystemInfo4730Display::refresh() {
    MeterModel* meter = MeterModel::instance();
    setText(buildText({meter->getChannel(1), meter->getChannel(2), meter->getChannel(3)}, true,
                      {"Chan 1", "Chan 2", "Chan 3"}, {"Probe 1", "Probe 2", "Probe 3"}, labelWidth));
}

SystemInfo4710Display::SystemInfo4710Display(int x, int y, int w, int h) : SystemInfoDisplay(x, y, w, h) {
    indent = 14;
}

void SystemInfo4710Display::refresh() {
    setText(buildText({MeterModel::instance()->getChannel(2)}, false, {"Channel"}, {"Probe"}, valueWidth));
}
