// The backplane board-information report: the board texts, the calibration
// temperature and the output-calibration constants the host holds.
#include "meter/MeterModel.h"

#include <cstdio>
#include <string>

namespace {

// Printed names of the calibration values 0-12 (value 13 is the
// calibration temperature, shown with the board information).
const char* const kCalNames[13] = {
    "Sync Pulse Offset",
    "VDAC Zero Output 3V Range",
    "VDAC Zero Output 10V Range",
    "VDAC Full Pos Output 3V Range",
    "VDAC Full Neg Output 3V Range",
    "VDAC Full Pos Output 10V Range",
    "VDAC Full Neg Output 10V Range",
    "ADAC Zero Output 3V Range",
    "ADAC Zero Output 10V Range",
    "ADAC Full Pos Output 3V Range",
    "ADAC Full Neg Output 3V Range",
    "ADAC Full Pos Output 10V Range",
    "ADAC Full Neg Output 10V Range",
};
constexpr int kCalTemperature = 13;

// Name left in 40, value right in 15 (both minimum widths).
std::string row(const std::string& name, const std::string& value) {
    std::string line = name;
    if (line.size() < 40) line.append(40 - line.size(), ' ');
    if (value.size() < 15) line.append(15 - value.size(), ' ');
    return line + value;
}

std::string fixed(float value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, static_cast<double>(value));
    return buffer;
}

}  // namespace

std::vector<std::string> MeterModel::backplaneInfoReport() {
    std::vector<std::string> lines;
    lines.push_back("");
    lines.push_back("Backplane Board Information");
    lines.push_back("---------------------------");
    lines.push_back("");
    lines.push_back(row("Model", getBackplaneModel()));
    lines.push_back(row("Rev", getBackplaneRev()));
    lines.push_back(row("Serial", getBackplaneSerial()));
    lines.push_back(row("Cal Date", getBackplaneCalDate()));
    lines.push_back(row("Cal Temperature", fixed(getBackplaneCalParameter(kCalTemperature), 1)));
    lines.push_back("");
    lines.push_back("Backplane Cal Parameters");
    lines.push_back("------------------------");
    for (int i = 0; i < 13; ++i) lines.push_back(row(kCalNames[i], fixed(getBackplaneCalParameter(i), 0)));
    lines.push_back("");
    return lines;
}
