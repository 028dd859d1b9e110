// The diagnostic reports, line by line against small fixtures: the
// configuration dump, the board and parameter-table report and the probe
// reports.
#include "ChannelTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using chtest::TestChannel;
using Lines = std::vector<std::string>;

namespace {

std::string sp(int n) { return std::string(n, ' '); }
const std::string kRule(61, '=');

class ChannelReports : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox;
    TestChannel ch{3};

    void probeItem(int kind, std::initializer_list<int> bytes) {
        char b[8] = {};
        int i = 0;
        for (int v : bytes) b[i++] = static_cast<char>(v);
        ch.getProbe().onProbeData(kind, b);
    }
    void probeFloat(int kind, float v, int index = -1) {
        unsigned u;
        std::memcpy(&u, &v, 4);
        char b[8] = {};
        int o = 0;
        if (index >= 0) b[o++] = static_cast<char>(index);
        for (int k = 0; k < 4; ++k) b[o + k] = static_cast<char>(u >> (24 - 8 * k));
        ch.getProbe().onProbeData(kind, b);
    }
};

// ---- Configuration dump ---------------------------------------------------------

TEST_F(ChannelReports, DumpBeforeTheCardReportedSizes) {
    ch.onCalParameter(8, 2.5f);
    ch.onCalParameter(9, 10000.0f);
    ch.onCalParameter(26, 0.0f);
    ch.onCalParameter(29, -1.25f);
    const Lines expected = {
        "",
        kRule,
        " Begin Channel 3 Configuration Dump",
        kRule,
        "",
        "================= Parameters ===================",
        ":diag3:dat:cal:gain:prob:rlow 4000.038086",
        ":diag3:dat:cal:gain:prob:rmed 400.038116",
        ":diag3:dat:cal:gain:prob:rhigh 40.038132",
        ":diag3:dat:cal:gain:prob:rxhigh 4.038133",
        ":diag3:dat:cal:gain:dinput 0.333333",
        ":diag3:dat:cal:gain:dinsstage:rlow 200.656677",
        ":diag3:dat:cal:gain:dinsstage:rmed 20.656668",
        ":diag3:dat:cal:gain:dinstage:rhigh 2.656667",
        ":diag3:dat:cal:thermistor:voltage 2.500",
        ":diag3:dat:cal:thermistor:resistance 10000.0",
        ":diag3:dat:cal:transductance:xlow 0.0000000",
        ":diag3:dat:cal:transductance:low 0.0000000",
        ":diag3:dat:cal:transductance:med 0.0000000",
        ":diag3:dat:cal:transductance:high -1.2500000",
        "================= DC Linearity Tables ===================",
        "",
        "================= AC Frequency Correction Low End ===================",
        "================= AC Frequency Correction Full Scale ===================",
        "================= RMS Linearity ===================",
        kRule,
        " End Channel 3 Configuration Dump",
        kRule,
    };
    EXPECT_EQ(ch.configurationDump(), expected);
}

TEST_F(ChannelReports, DumpRowsRunIndexByIndexInSelectorOrder) {
    ch.onCalTableSizes(2, 1, 1);
    for (int t = 0; t < 20; ++t)
        for (unsigned i = 0; i < 15; ++i) ch.onCalTableElement(t, i, t + i / 10.0f);
    const Lines lines = ch.configurationDump();
    ASSERT_EQ(lines.size(), 28u + 10 + 60 + 4 + 5);
    const Lines dc(lines.begin() + 21, lines.begin() + 31);
    EXPECT_EQ(dc, (Lines{
                      ":diag3:dat:cal:dcl 0,0,1.000000", ":diag3:dat:cal:dcl 1,0,2.000000",
                      ":diag3:dat:cal:dcl 2,0,3.000000", ":diag3:dat:cal:dcl 3,0,4.000000",
                      ":diag3:dat:cal:dcl 4,0,0.000000", ":diag3:dat:cal:dcl 0,1,1.100000",
                      ":diag3:dat:cal:dcl 1,1,2.100000", ":diag3:dat:cal:dcl 2,1,3.100000",
                      ":diag3:dat:cal:dcl 3,1,4.100000", ":diag3:dat:cal:dcl 4,1,0.100000",
                  }));
    EXPECT_EQ(lines[31], "");
    EXPECT_EQ(lines[32], "================= AC Frequency Correction Low End ===================");
    EXPECT_EQ(lines[33], ":diag3:dat:cal:fcor 4,0,9.000000");
    EXPECT_EQ(lines[36], ":diag3:dat:cal:fcor 7,0,12.000000");
    EXPECT_EQ(lines[92], ":diag3:dat:cal:fcor 7,14,13.400000");
    EXPECT_EQ(lines[93], "================= AC Frequency Correction Full Scale ===================");
    EXPECT_EQ(lines[94], ":diag3:dat:cal:fcor 0,0,5.000000");
    EXPECT_EQ(lines[97], ":diag3:dat:cal:fcor 3,0,8.000000");
    EXPECT_EQ(lines[98], "================= RMS Linearity ===================");
    EXPECT_EQ(lines[99], ":diag3:dat:cal:rmsl 0,0,14.000000");
    EXPECT_EQ(lines[103], ":diag3:dat:cal:rmsl 4,0,13.000000");
    EXPECT_EQ(lines[104], kRule);
    EXPECT_EQ(ch.configurationDump(), lines);   // nothing new from the card: the same lines
}

// ---- Board and parameter-table report ---------------------------------------------------

TEST_F(ChannelReports, ParameterTableReportBeforeTheCardSentAnything) {
    const Lines lines = ch.parameterTableReport();
    ASSERT_EQ(lines.size(), 141u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Channel 3 Board Information");
    EXPECT_EQ(lines[3], "Model" + sp(35) + sp(8) + "unknown");
    EXPECT_EQ(lines[4], "Rev" + sp(37) + sp(14) + "0");
    EXPECT_EQ(lines[5], "Serial" + sp(34) + sp(11) + "0000");
    EXPECT_EQ(lines[6], "Cal Date" + sp(32) + sp(5) + "01-01-1970");
    EXPECT_EQ(lines[8], "Channel 3 Parameter Table");
    EXPECT_EQ(lines[10], "DC Offsets (counts)");
    EXPECT_EQ(lines[11], std::string(19, '-'));
    EXPECT_EQ(lines[12], "MADC Offset" + sp(29) + sp(14) + "0");
    EXPECT_EQ(lines[34], "Probe Offset Ultra Low Field" + sp(12) + sp(14) + "0");
    EXPECT_EQ(lines[36], "RMS Offsets (Gauss)");
    EXPECT_EQ(lines[38], "Probe RMS Offset DC 30G" + sp(17) + sp(9) + "0.0000");
    EXPECT_EQ(lines[60], "Misc. Volatile Parameters");
    EXPECT_EQ(lines[61], "-----");
    EXPECT_EQ(lines[62], "Actual Control Current in DC Mode (A)" + sp(3) + sp(3) + "0.0000000000");
    EXPECT_EQ(lines[74], "Persistent Cal Parameters");
    EXPECT_EQ(lines[76], "Probe Inp Base Gain 30G" + sp(17) + sp(4) + "4000.038086");
    EXPECT_EQ(lines[84], "");
    EXPECT_EQ(lines[85], "Thermistor Voltage" + sp(22) + sp(10) + "0.000");
    EXPECT_EQ(lines[107], "Current Cal SDAC Zero Output" + sp(12) + sp(14) + "0");
    EXPECT_EQ(lines[109], "DC Linearity Table");
    EXPECT_EQ(lines[110], " index" + sp(9) + "% full scale  " + "  MADC Dir" + sp(7) + "30G" + sp(6) + "300G" +
                              sp(7) + "3kG" + sp(6) + "30kG");
    EXPECT_EQ(lines[111], " -----" + sp(9) + std::string(12, '-') + "  " +
                              "  --------  --------  --------  --------  --------");
    EXPECT_EQ(lines[112], "");
    EXPECT_EQ(lines[113], "AC Low End Frequency Correction Table");
    EXPECT_EQ(lines[114], " index" + sp(12) + "Frequency  " + sp(7) + "0-50k" + sp(7) + "0-10k" + sp(2) +
                              "0-500 HP16" + sp(1) + "0-500 HP0.5" + sp(5) + "Full BW" + sp(5) + "No Corr");
    EXPECT_EQ(lines[115], " -----" + sp(9) + std::string(12, '-') + "  " +
                              " ----------- ----------- ----------- ----------- ----------- -----------");
    EXPECT_EQ(lines[116], "");
    // Before the sizes report the low-end rows carry their labels only.
    EXPECT_EQ(lines[117], "     0  (" + sp(10) + "1.0 Hz ): ");
    EXPECT_EQ(lines[131], "    14  (" + sp(8) + "150.0 Hz ): ");
    EXPECT_EQ(lines[132], "");
    EXPECT_EQ(lines[133], "AC Full Scale Frequency Correction Table");
    EXPECT_EQ(lines[136], "");
    EXPECT_EQ(lines[137], "");
    EXPECT_EQ(lines[138], "RMS Linearity Table");
    EXPECT_EQ(lines[140], " -----" + sp(9) + std::string(12, '-') + "  " +
                              "  --------  --------  --------  --------  --------");
}

TEST_F(ChannelReports, ParameterTableRowsAndLabels) {
    ch.setBoardTexts("ABCDEFGHIJKLMN", "2", "12345", "05-06-2026");
    ch.onCalParameter(40, -12.4f);
    ch.onCalParameter(83, 123456.0f);
    ch.onCalTableSizes(4, 2, 1);
    ch.onCalTableElement(0, 0, 1.0f);
    ch.onCalTableElement(4, 3, -2.5f);
    ch.onCalTableElement(19, 14, 0.125f);
    ch.onCalTableElement(8, 1, 3.0f);
    ch.onCalTableElement(13, 0, 7.0f);
    const Lines lines = ch.parameterTableReport();
    ASSERT_EQ(lines.size(), 141u + 4 + 2 + 1);
    EXPECT_EQ(lines[3], "Model" + sp(35) + " ABCDEFGHIJKLMN");
    EXPECT_EQ(lines[12], "MADC Offset" + sp(29) + sp(12) + "-12");
    // A value wider than its field pushes the line out.
    EXPECT_EQ(lines[62], "Actual Control Current in DC Mode (A)" + sp(3) + "123456.0000000000");
    EXPECT_EQ(lines[109], "DC Linearity Table");
    const std::string zero = "  0.000000";
    EXPECT_EQ(lines[112], "     0  (-100.0% to -50.0%): " + std::string("  1.000000") + zero + zero + zero + zero);
    EXPECT_EQ(lines[115], "     3  (  50.0% to 100.0%): " + zero + zero + zero + zero + " -2.500000");
    EXPECT_EQ(lines[116], "");
    EXPECT_EQ(lines[117], "AC Low End Frequency Correction Table");
    const std::string zero12 = "    0.000000";
    EXPECT_EQ(lines[121], "     0  (" + sp(10) + "1.0 Hz ): " + zero12 + zero12 + zero12 + zero12 + zero12 + zero12);
    EXPECT_EQ(lines[135], "    14  (" + sp(8) + "150.0 Hz ): " + zero12 + zero12 + zero12 + zero12 + zero12 +
                              "    0.125000");
    EXPECT_EQ(lines[137], "AC Full Scale Frequency Correction Table");
    EXPECT_EQ(lines[141], "     0  (   0.0% to  55.0%): " + zero12 + zero12 + zero12 + zero12);
    EXPECT_EQ(lines[142], "     1  (  55.0% to 110.0%): " + zero12 + zero12 + zero12 + "    3.000000");
    EXPECT_EQ(lines[144], "RMS Linearity Table");
    // A single RMS point has no step: it is labelled with the lower end.
    EXPECT_EQ(lines[147], "     0  (" + sp(7) + "-110.0%   ): " + "  7.000000" + zero + zero + zero + zero);
}

TEST_F(ChannelReports, RmsPointsSpanTheRange) {
    ch.onCalTableSizes(0, 0, 3);
    const Lines lines = ch.parameterTableReport();
    ASSERT_EQ(lines.size(), 144u);
    EXPECT_EQ(lines[141].substr(0, 23), "     0  (" + sp(7) + "-110.0%");
    EXPECT_EQ(lines[142].substr(0, 23), "     1  (" + sp(10) + "0.0%");
    EXPECT_EQ(lines[143].substr(0, 23), "     2  (" + sp(8) + "110.0%");
}

TEST_F(ChannelReports, DumpAndParameterReportShareOneListButCallersGetCopies) {
    const Lines dump = ch.configurationDump();
    const Lines table = ch.parameterTableReport();
    EXPECT_EQ(dump.size(), 28u);
    EXPECT_EQ(table.size(), 141u);
    EXPECT_EQ(dump[2], " Begin Channel 3 Configuration Dump");   // not overwritten under the caller
}

// ---- Probe reports ------------------------------------------------------------------

TEST_F(ChannelReports, GeneralProbeDataOfAFreshRecord) {
    const Lines lines = ch.probeDataReport();
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Channel 3 General Probe Data");
    EXPECT_EQ(lines[2], std::string(20, '-'));
    EXPECT_EQ(lines[3], "Model" + sp(35) + sp(31) + "Test");
    EXPECT_EQ(lines[4], "Serial" + sp(34) + sp(31) + "0123");
    EXPECT_EQ(lines[6], "Series" + sp(34) + sp(28) + "Unknown");
    EXPECT_EQ(lines[7], "Hall Current Level" + sp(22) + sp(32) + "Low");
    EXPECT_EQ(lines[8], "Axis" + sp(36) + sp(29) + "Single");
    EXPECT_EQ(lines[9], "Type" + sp(36) + sp(13) + "Single Axis Transverse");
    EXPECT_EQ(lines[10], "Class" + sp(35) + sp(33) + "1X");
    EXPECT_EQ(lines[11], "Simulation" + sp(30) + sp(25) + "Real Probe");
    EXPECT_EQ(lines[14], "Sensitivity Multiplier" + sp(18) + sp(28) + "1.00000");
    EXPECT_EQ(lines[17], "Cable Resistance (Ohms)" + sp(17) + sp(30) + "0.000");
    EXPECT_EQ(lines[19], "");
    EXPECT_EQ(lines[20], "Main Data Stored CRC" + sp(20) + sp(34) + "0");
    EXPECT_EQ(lines[23], "Temp Comp Calculated CRC" + sp(16) + sp(34) + "0");
    for (std::size_t i : {3, 4, 5, 6, 11, 14, 20, 23}) EXPECT_EQ(lines[i].size(), 75u) << i;
}

TEST_F(ChannelReports, GeneralProbeDataCodesAndValues) {
    // series 2, axis 3, type 7, Hall current high, simulated, sensor, class 0
    probeItem(6, {2, 3, 7, 1, 1, 1, 0});
    probeFloat(7, 1234.56f);
    probeItem(21, {0x12, 0x34, 0x56, 0x78});
    probeItem(0, {0, 0, 0, 0, 0, 0});   // an empty model text
    const Lines lines = ch.probeDataReport();
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[3], "Model" + sp(35) + sp(35));
    EXPECT_EQ(lines[6], "Series" + sp(34) + sp(31) + "4700");
    EXPECT_EQ(lines[7], "Hall Current Level" + sp(22) + sp(31) + "High");
    EXPECT_EQ(lines[8], "Axis" + sp(36) + sp(34) + "Z");
    EXPECT_EQ(lines[9], "Type" + sp(36) + "3 Axis Angular Calibrated Precision");
    EXPECT_EQ(lines[10], "Class" + sp(35) + sp(11) + "Ultra Low Field (0.001X)");
    EXPECT_EQ(lines[11], "Simulation" + sp(30) + sp(23) + "Test Station");
    EXPECT_EQ(lines[12], "Loaded Sensitivity (G/V)" + sp(16) + sp(29) + "1234.6");
    EXPECT_EQ(lines[20], "Main Data Stored CRC" + sp(20) + sp(30) + "22136");
    EXPECT_EQ(lines[21], "Main Data Calculated CRC" + sp(16) + sp(31) + "4660");
}

TEST_F(ChannelReports, DcLinearityAndAcCorrectionFactors) {
    probeFloat(16, -1.234567f, 0);
    Lines dc = ch.probeDcLinearityReport();
    ASSERT_EQ(dc.size(), 65u);
    EXPECT_EQ(dc.front(), "");
    EXPECT_EQ(dc.back(), "");
    EXPECT_EQ(dc[1], "Channel 3 Probe DC Linearity Factors");
    EXPECT_EQ(dc[2], std::string(20, '-'));
    EXPECT_EQ(dc[3], "DC Linearity Correction -30 kG" + sp(5) + sp(7) + "-1.23457");
    EXPECT_EQ(dc[33], "DC Linearity Correction 0 kG" + sp(7) + sp(8) + "1.00000");
    EXPECT_EQ(dc[63], "DC Linearity Correction 30 kG" + sp(6) + sp(8) + "1.00000");

    Lines ac = ch.probeAcCorrectionReport();
    ASSERT_EQ(ac.size(), 46u);
    EXPECT_EQ(ac[1], "Channel 3 Probe AC Frequency Correction Factors");
    EXPECT_EQ(ac[3].substr(0, 35), "AC Frequency Correction 200 Hz" + sp(5));
    EXPECT_EQ(ac[4].substr(0, 35), "AC Frequency Correction 500 Hz" + sp(5));
    EXPECT_EQ(ac[5], "AC Frequency Correction 1 kHz" + sp(6) + sp(8) + "1.00000");
    EXPECT_EQ(ac[34].substr(0, 35), "AC Frequency Correction 30 kHz" + sp(5));
    EXPECT_EQ(ac[35].substr(0, 35), "AC Frequency Correction 32 kHz" + sp(5));
    EXPECT_EQ(ac[44].substr(0, 35), "AC Frequency Correction 50 kHz" + sp(5));
    EXPECT_EQ(ac[45], "");
    for (std::size_t i = 3; i < 45; ++i) EXPECT_EQ(ac[i].size(), 50u) << i;
}

TEST_F(ChannelReports, ProbeMemoryDump) {
    probeItem(23, {0x00, 0x10, 0xDE, 0xAD, 0xBE, 0xEF});
    const Lines lines = ch.probeMemoryDump();
    ASSERT_EQ(lines.size(), 52u);
    EXPECT_EQ(lines[1], "Channel 3 Probe Memory Dump");
    EXPECT_EQ(lines[2], std::string(27, '-'));
    std::string zeros;
    for (int j = 0; j < 16; ++j) zeros += "00 ";
    EXPECT_EQ(lines[3], "0000: " + zeros);
    EXPECT_EQ(lines[4], "0010: de ad be ef " + zeros.substr(0, 36));
    EXPECT_EQ(lines[50], "02f0: " + zeros);
    EXPECT_EQ(lines[50].size(), 54u);
    EXPECT_EQ(lines[51], "");
    // The probe reports share their own list: the next report replaces it.
    EXPECT_EQ(ch.probeDcLinearityReport().size(), 65u);
}

}  // namespace
