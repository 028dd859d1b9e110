// The channel's diagnostic reports: the configuration dump, the board and
// parameter-table report and the four probe reports.  Each report formats a
// copy of the data it prints, taken under the calibration lock (or from the
// probe record), fills its line list under the list's lock and hands the
// caller a copy of the lines.
#include "channel/ChannelModel.h"

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// printf's fixed-point conversion with d decimals.
std::string fixed(double v, int d) {
    int n = std::snprintf(nullptr, 0, "%.*f", d, v);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(&s[0], s.size() + 1, "%.*f", d, v);
    return s;
}

std::string left(const std::string& s, std::size_t w) {
    return s.size() >= w ? s : s + std::string(w - s.size(), ' ');
}

std::string right(const std::string& s, std::size_t w) {
    return s.size() >= w ? s : std::string(w - s.size(), ' ') + s;
}

const std::string kRule(61, '=');
constexpr std::size_t kLowEndPoints = 15;

// ---- Configuration dump --------------------------------------------------

struct DumpParameter {
    const char* key;
    int entry;
    int decimals;
};

const DumpParameter kDumpParameters[] = {
    {":dat:cal:gain:prob:rlow ", 0, 6},
    {":dat:cal:gain:prob:rmed ", 1, 6},
    {":dat:cal:gain:prob:rhigh ", 2, 6},
    {":dat:cal:gain:prob:rxhigh ", 3, 6},
    {":dat:cal:gain:dinput ", 4, 6},
    {":dat:cal:gain:dinsstage:rlow ", 5, 6},
    {":dat:cal:gain:dinsstage:rmed ", 6, 6},
    {":dat:cal:gain:dinstage:rhigh ", 7, 6},
    {":dat:cal:thermistor:voltage ", 8, 3},
    {":dat:cal:thermistor:resistance ", 9, 1},
    {":dat:cal:transductance:xlow ", 26, 7},
    {":dat:cal:transductance:low ", 27, 7},
    {":dat:cal:transductance:med ", 28, 7},
    {":dat:cal:transductance:high ", 29, 7},
};

// One section of table rows: selector k reads table tables[k - firstSelector].
struct DumpSection {
    const char* command;
    int firstSelector;
    std::vector<int> tables;
};

void dumpRows(Lines& out, const std::string& prefix, const DumpSection& sec,
              const ChannelModel::CalTables& tables, std::size_t indices) {
    for (std::size_t i = 0; i < indices; ++i) {
        for (std::size_t s = 0; s < sec.tables.size(); ++s) {
            const std::vector<float>& t = tables[sec.tables[s]];
            if (i >= t.size()) continue;
            out.push_back(prefix + sec.command + std::to_string(sec.firstSelector + s) + "," +
                          std::to_string(i) + "," + fixed(t[i], 6));
        }
    }
}


// ---- Parameter-table report ------------------------------------------------

struct NamedParameter {
    int entry;
    const char* name;
    int decimals;
};

const NamedParameter kDcOffsets[] = {
    {40, "MADC Offset", 0},
    {81, "Current Cal Offset", 0},
    {41, "Probe Offset HP16 BP5K 30G", 0},
    {42, "Probe Offset HP16 BP5K 300G", 0},
    {43, "Probe Offset HP16 BP5K 3kG", 0},
    {44, "Probe Offset HP16 BP5K 30kG", 0},
    {45, "Probe Offset HP16 30G", 0},
    {46, "Probe Offset HP16 300G", 0},
    {47, "Probe Offset HP16 3kG", 0},
    {48, "Probe Offset HP16 30kG", 0},
    {49, "Probe Offset HP16 LP10K 30G", 0},
    {50, "Probe Offset HP16 LP10K 300G", 0},
    {51, "Probe Offset HP16 LP10K 3kG", 0},
    {52, "Probe Offset HP16 LP10K 30kG", 0},
    {53, "Probe Offset HP16 LP500 30G", 0},
    {54, "Probe Offset HP16 LP500 300G", 0},
    {55, "Probe Offset HP16 LP500 3kG", 0},
    {56, "Probe Offset HP16 LP500 30kG", 0},
    {57, "Probe Offset HP0.5 LP500 30G", 0},
    {58, "Probe Offset HP0.5 LP500 300G", 0},
    {59, "Probe Offset HP0.5 LP500 3kG", 0},
    {60, "Probe Offset HP0.5 LP500 30kG", 0},
    {85, "Probe Offset Ultra Low Field", 0},
};

const NamedParameter kRmsOffsets[] = {
    {61, "Probe RMS Offset DC 30G", 4},
    {62, "Probe RMS Offset DC 300G", 4},
    {63, "Probe RMS Offset DC 3kG", 4},
    {64, "Probe RMS Offset DC 30kG", 4},
    {65, "Probe RMS Offset HP16 30G", 4},
    {66, "Probe RMS Offset HP16 300G", 4},
    {67, "Probe RMS Offset HP16 3kG", 4},
    {68, "Probe RMS Offset HP16 30kG", 4},
    {69, "Probe RMS Offset HP16 LP10K 30G", 4},
    {70, "Probe RMS Offset HP16 LP10K 300G", 4},
    {71, "Probe RMS Offset HP16 LP10K 3kG", 4},
    {72, "Probe RMS Offset HP16 LP10K 30kG", 4},
    {73, "Probe RMS Offset HP16 LP500 30G", 4},
    {74, "Probe RMS Offset HP16 LP500 300G", 4},
    {75, "Probe RMS Offset HP16 LP500 3kG", 4},
    {76, "Probe RMS Offset HP16 LP500 30kG", 4},
    {77, "Probe RMS Offset HP0.5 LP500 30G", 4},
    {78, "Probe RMS Offset HP0.5 LP500 300G", 4},
    {79, "Probe RMS Offset HP0.5 LP500 3kG", 4},
    {80, "Probe RMS Offset HP0.5 LP500 30kG", 4},
};

const NamedParameter kVolatile[] = {
    {83, "Actual Control Current in DC Mode (A)", 10},
    {82, "Actual Control Current in AC Mode (A)", 10},
    {84, "Diag ADC Offset", 0},
    {86, "Diag ADC 2.5V Ref Test(V)", 5},
    {87, "Diag ADC Zero Crossing Test (V)", 5},
    {88, "IC Ref Test 100mA DC (V)", 5},
    {89, "IC Ref Test 100mA AC (V)", 5},
    {90, "IC Ref Test 10mA DC (V)", 5},
    {91, "IC Ref Test 10mA AC (V)", 5},
    {92, "MADC Ground Test (V)", 5},
};

const NamedParameter kPersistentGains[] = {
    {0, "Probe Inp Base Gain 30G", 6},
    {1, "Probe Inp Base Gain 300G", 6},
    {2, "Probe Inp Base Gain 3kG", 6},
    {3, "Probe Inp Base Gain 30kG", 6},
    {4, "Direct Input MADC Gain", 6},
    {5, "Direct Inp Stage2 Base Gain Range 1", 6},
    {6, "Direct Inp Stage2 Base Gain Range 2", 6},
    {7, "Direct Inp Stage2 Base Gain Range 3", 6},
};

const NamedParameter kPersistentOther[] = {
    {8, "Thermistor Voltage", 3},
    {9, "Thermistor Resistance", 1},
    {10, "MDAC Full Scale 3V Range", 0},
    {11, "MDAC Full Scale 10V Range", 0},
    {12, "UDAC Zero Output 3V Range", 0},
    {13, "UDAC Zero Output 10V Range", 0},
    {14, "UDAC Full Pos Output 3V Range", 0},
    {15, "UDAC Full Neg Output 3V Range", 0},
    {16, "UDAC Full Pos Output 10V Range", 0},
    {17, "UDAC Full Neg Output 10V Range", 0},
    {18, "CDAC Zero Output 3V Range", 0},
    {19, "CDAC Zero Output 10V Range", 0},
    {20, "CDAC Full Pos Output 3V Range", 0},
    {21, "CDAC Full Neg Output 3V Range", 0},
    {22, "CDAC Full Pos Output 10V Range", 0},
    {23, "CDAC Full Neg Output 10V Range", 0},
    {24, "Diag ADC Gain Correction Factor", 6},
    {25, "Frequency Measurement Correction Factor", 6},
    {26, "Current Cal Transductance 0.63 mA", 7},
    {27, "Current Cal Transductance 6.3 mA", 7},
    {28, "Current Cal Transductance 10 mA", 7},
    {29, "Current Cal Transductance 100 mA", 7},
    {30, "Current Cal SDAC Zero Output", 0},
};

template <std::size_t N>
void parameterRows(Lines& out, const NamedParameter (&rows)[N], const std::vector<float>& params) {
    for (const NamedParameter& r : rows)
        out.push_back(left(r.name, 40) + right(fixed(params[r.entry], r.decimals), 15));
}

// One of the four correction-table blocks.
struct TableFrame {
    const char* title;
    const char* label;         // right 21 in the heading line
    std::size_t width;         // W of every value column
    bool blankAfterDashes;
    std::vector<int> tables;   // in column order
    std::vector<const char*> headings;
};

const char* const kLinearityHeadings[] = {"MADC Dir", "30G", "300G", "3kG", "30kG"};
const char* const kFrequencyHeadings[] = {"0-50k", "0-10k", "0-500 HP16", "0-500 HP0.5",
                                          "Full BW", "No Corr"};

void tableFrame(Lines& out, const TableFrame& f) {
    out.push_back(f.title);
    std::string heading = right("index", 6) + right(f.label, 21) + "  ";
    std::string dashes = right("-----", 6) + right("------------", 21) + "  ";
    const std::string columnDashes(f.width == 10 ? 8 : 11, '-');
    for (const char* h : f.headings) {
        heading += right(h, f.width);
        dashes += right(columnDashes, f.width);
    }
    out.push_back(heading);
    out.push_back(dashes);
    if (f.blankAfterDashes) out.push_back("");
}

// Row i: index, row label, then entry i of each table of the frame (entries
// a table does not hold are left out).
void tableRow(Lines& out, const TableFrame& f, int i, const std::string& label,
              const ChannelModel::CalTables& tables) {
    std::string row = right(std::to_string(i), 6) + "  (" + label;
    for (int t : f.tables) {
        const std::vector<float>& table = tables[t];
        if (static_cast<std::size_t>(i) < table.size()) row += right(fixed(table[i], 6), f.width);
    }
    out.push_back(row);
}

std::string band(float start, float end) {
    return right(fixed(start, 1), 6) + "% to" + right(fixed(end, 1), 6) + "%): ";
}


// ---- Probe reports ---------------------------------------------------------

const char* const kSeries[] = {"Unknown", "3700", "4700"};
const char* const kHallCurrent[] = {"Low", "High"};
const char* const kAxis[] = {"Single", "X", "Y", "Z"};
const char* const kProbeType[] = {
    "Single Axis Transverse", "Single Axis Axial", "2 Axis Standard", "2 Axis Precision",
    "3 Axis Standard", "3 Axis Precision", "3 Axis Angular Calibrated Standard",
    "3 Axis Angular Calibrated Precision"};
const char* const kProbeClass[] = {"Ultra Low Field (0.001X)", "Korvix (0.01X)", "Low Field (0.1X)",
                                   "1X", "10X", "100X", "1000X"};

// Label left 40, value right 35.
std::string probeField(const char* label, const std::string& value) {
    return left(label, 40) + right(value, 35);
}

// A coded field: its text from the table, or the padded label alone when the
// table does not list the code.
template <std::size_t N>
std::string codeField(const char* label, const char* const (&table)[N], int code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) return left(label, 40);
    return probeField(label, table[code]);
}

std::string factorLine(const std::string& label, float x) {
    return left(label, 35) + right(fixed(x, 5), 15);
}

std::string hex(unsigned v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*x", digits, v);
    return buf;
}

}  // namespace

std::vector<std::string> ChannelModel::configurationDump() {
    std::vector<float> params;
    CalTables tables;
    copyCalibration(params, tables);

    const std::string n = std::to_string(channel);
    const std::string prefix = ":diag" + n;
    Lines out;
    out.push_back("");
    out.push_back(kRule);
    out.push_back(" Begin Channel " + n + " Configuration Dump");
    out.push_back(kRule);
    out.push_back("");
    out.push_back("================= Parameters ===================");
    for (const DumpParameter& p : kDumpParameters)
        out.push_back(prefix + p.key + fixed(params[p.entry], p.decimals));

    out.push_back("================= DC Linearity Tables ===================");
    dumpRows(out, prefix, {":dat:cal:dcl ", 0, {1, 2, 3, 4, 0}}, tables, tables[0].size());
    out.push_back("");
    out.push_back("================= AC Frequency Correction Low End ===================");
    dumpRows(out, prefix, {":dat:cal:fcor ", 4, {9, 10, 11, 12}}, tables, kLowEndPoints);
    out.push_back("================= AC Frequency Correction Full Scale ===================");
    dumpRows(out, prefix, {":dat:cal:fcor ", 0, {5, 6, 7, 8}}, tables, tables[5].size());
    out.push_back("================= RMS Linearity ===================");
    dumpRows(out, prefix, {":dat:cal:rmsl ", 0, {14, 15, 16, 17, 13}}, tables, tables[13].size());
    out.push_back(kRule);
    out.push_back(" End Channel " + n + " Configuration Dump");
    out.push_back(kRule);

    std::lock_guard<std::mutex> lock(calTableMutex);
    configurationDumpLines = out;
    return out;
}

std::vector<std::string> ChannelModel::parameterTableReport() {
    std::vector<float> params;
    CalTables tables;
    copyCalibration(params, tables);

    const std::string n = std::to_string(channel);
    Lines out;
    out.push_back("");
    out.push_back("Channel " + n + " Board Information");
    out.push_back("");
    out.push_back(left("Model", 40) + right(getBoardModel(), 15));
    out.push_back(left("Rev", 40) + right(getBoardRev(), 15));
    out.push_back(left("Serial", 40) + right(getBoardSerial(), 15));
    out.push_back(left("Cal Date", 40) + right(getBoardCalDate(), 15));
    out.push_back("");
    out.push_back("Channel " + n + " Parameter Table");
    out.push_back("");

    out.push_back("DC Offsets (counts)");
    out.push_back(std::string(19, '-'));
    parameterRows(out, kDcOffsets, params);
    out.push_back("");
    out.push_back("RMS Offsets (Gauss)");
    out.push_back(std::string(19, '-'));
    parameterRows(out, kRmsOffsets, params);
    out.push_back("");
    out.push_back("");
    out.push_back("Misc. Volatile Parameters");
    out.push_back("-----");
    parameterRows(out, kVolatile, params);
    out.push_back("");
    out.push_back("");
    out.push_back("Persistent Cal Parameters");
    out.push_back("-----");
    parameterRows(out, kPersistentGains, params);
    out.push_back("");
    parameterRows(out, kPersistentOther, params);
    out.push_back("");

    const std::vector<const char*> linearity(std::begin(kLinearityHeadings), std::end(kLinearityHeadings));
    const std::vector<const char*> lowEnd(std::begin(kFrequencyHeadings), std::end(kFrequencyHeadings));
    const std::vector<const char*> fullScale(lowEnd.begin(), lowEnd.begin() + 4);

    // DC linearity: Ldc bands from -100 % to +100 % of full scale.
    const TableFrame dc{"DC Linearity Table", "% full scale", 10, false, {0, 1, 2, 3, 4}, linearity};
    tableFrame(out, dc);
    const int ldc = static_cast<int>(tables[0].size());
    if (ldc > 0) {
        const float step = 200.0f / ldc;
        for (int i = 0; i < ldc; ++i) {
            const float start = step * i - 100;
            tableRow(out, dc, i, band(start, start + step), tables);
        }
    }
    out.push_back("");

    // AC low end: one row per frequency point, whatever the tables hold yet.
    const TableFrame low{"AC Low End Frequency Correction Table", "Frequency", 12, true,
                         {9, 10, 11, 12, 18, 19}, lowEnd};
    tableFrame(out, low);
    for (int i = 0; i < static_cast<int>(kLowEndPoints); ++i)
        tableRow(out, low, i, right(fixed(frequencyPoints[i], 1), 13) + " Hz ): ", tables);
    out.push_back("");

    // AC full scale: Lfs bands from 0 % to 110 % of the maximum frequency.
    const TableFrame full{"AC Full Scale Frequency Correction Table", "% max freq", 12, true,
                          {5, 6, 7, 8}, fullScale};
    tableFrame(out, full);
    const int lfs = static_cast<int>(tables[5].size());
    if (lfs > 0) {
        const float step = 110.0f / lfs;
        for (int i = 0; i < lfs; ++i) {
            const float start = step * i;
            tableRow(out, full, i, band(start, step + start), tables);
        }
    }
    out.push_back("");

    // RMS linearity: Lrms points from -110 % to +110 % of full scale.  A
    // single point has no step; it is labelled with the lower end.
    const TableFrame rms{"RMS Linearity Table", "% full scale", 10, false, {13, 14, 15, 16, 17}, linearity};
    tableFrame(out, rms);
    const int lrms = static_cast<int>(tables[13].size());
    for (int i = 0; i < lrms; ++i) {
        const float point = lrms > 1 ? 220.0f * i / static_cast<float>(lrms - 1) - 110 : -110.0f;
        tableRow(out, rms, i, right(fixed(point, 1), 13) + "%   ): ", tables);
    }

    std::lock_guard<std::mutex> lock(calTableMutex);
    configurationDumpLines = out;
    return out;
}

std::vector<std::string> ChannelModel::probeDataReport() {
    const std::string n = std::to_string(channel);
    Lines out;
    out.push_back("");
    out.push_back("Channel " + n + " General Probe Data");
    out.push_back(std::string(20, '-'));
    out.push_back(probeField("Model", probe.getModel()));
    out.push_back(probeField("Serial", probe.getSerialNumber()));
    out.push_back(probeField("Calibration Date", probe.getCalibrationDate()));
    out.push_back(codeField("Series", kSeries, probe.getSeries()));
    out.push_back(codeField("Hall Current Level", kHallCurrent, probe.getHallCurrentLevel()));
    out.push_back(codeField("Axis", kAxis, probe.getAxis()));
    out.push_back(codeField("Type", kProbeType, probe.getProbeType()));
    out.push_back(codeField("Class", kProbeClass, probe.getProbeClass()));
    out.push_back(probeField("Simulation", probe.isSimulated() ? "Test Station" : "Real Probe"));
    out.push_back(probeField("Loaded Sensitivity (G/V)", fixed(probe.getLoadedSensitivity(), 1)));
    out.push_back(probeField("Unloaded Sensitivity (G/V)", fixed(probe.getUnloadedSensitivity(), 1)));
    out.push_back(probeField("Sensitivity Multiplier", fixed(probe.getSensitivityMultiplier(), 5)));
    out.push_back(probeField("Calibration Current (mA)", fixed(probe.getCalibrationCurrent(), 3)));
    out.push_back(probeField("Hall Output Impedance (Ohms)", fixed(probe.getHallOutputImpedance(), 3)));
    out.push_back(probeField("Cable Resistance (Ohms)", fixed(probe.getCableResistance(), 3)));
    out.push_back(probeField("Linearizing Resistor Value (Ohms)", fixed(probe.getLinearizingResistor(), 3)));
    out.push_back("");
    out.push_back(probeField("Main Data Stored CRC", std::to_string(probe.getMainDataStoredCrc())));
    out.push_back(probeField("Main Data Calculated CRC", std::to_string(probe.getMainDataCalculatedCrc())));
    out.push_back(probeField("Temp Comp Stored CRC", std::to_string(probe.getTempCompStoredCrc())));
    out.push_back(probeField("Temp Comp Calculated CRC", std::to_string(probe.getTempCompCalculatedCrc())));
    std::lock_guard<std::mutex> lock(calTableMutex);
    probeReportLines = out;
    return out;
}

std::vector<std::string> ChannelModel::probeDcLinearityReport() {
    Lines out;
    out.push_back("");
    out.push_back("Channel " + std::to_string(channel) + " Probe DC Linearity Factors");
    out.push_back(std::string(20, '-'));
    for (int i = 0; i <= 60; ++i)
        out.push_back(factorLine("DC Linearity Correction " + std::to_string(i - 30) + " kG",
                                 probe.getDcLinearityFactor(i)));
    out.push_back("");
    std::lock_guard<std::mutex> lock(calTableMutex);
    probeReportLines = out;
    return out;
}

std::vector<std::string> ChannelModel::probeAcCorrectionReport() {
    Lines out;
    out.push_back("");
    out.push_back("Channel " + std::to_string(channel) + " Probe AC Frequency Correction Factors");
    out.push_back(std::string(20, '-'));
    out.push_back(factorLine("AC Frequency Correction 200 Hz", probe.getAcCorrection200Hz()));
    out.push_back(factorLine("AC Frequency Correction 500 Hz", probe.getAcCorrection500Hz()));
    for (int i = 0; i < 40; ++i) {
        const int khz = i < 30 ? i + 1 : 2 * i - 28;
        out.push_back(factorLine("AC Frequency Correction " + std::to_string(khz) + " kHz",
                                 probe.getAcCorrectionFactor(i)));
    }
    out.push_back("");
    std::lock_guard<std::mutex> lock(calTableMutex);
    probeReportLines = out;
    return out;
}

std::vector<std::string> ChannelModel::probeMemoryDump() {
    Lines out;
    out.push_back("");
    out.push_back("Channel " + std::to_string(channel) + " Probe Memory Dump");
    out.push_back(std::string(27, '-'));
    for (unsigned a = 0; a < 768; a += 16) {
        std::string row = hex(a, 4) + ": ";
        for (unsigned j = 0; j < 16; ++j) row += hex(probe.getMemoryByte(a + j), 2) + " ";
        out.push_back(row);
    }
    out.push_back("");
    std::lock_guard<std::mutex> lock(calTableMutex);
    probeReportLines = out;
    return out;
}
