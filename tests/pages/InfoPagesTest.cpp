// The system-information pages and the error page, built on the program's
// models with cards, backplane and probes reporting over the bus.
#include "PagesFixture.h"

#include "channel/ChannelModel.h"
#include "pages/ErrorDisplay.h"
#include "pages/SystemInfoDisplay.h"
#include "runtime/ErrorList.h"
#include "status/ScpiErrorQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using pagestest::Instrument;
using testsupport::lines;
using testsupport::waitUntil;

namespace {

class InfoPages : public ::testing::Test {
protected:
    InfoPages() : instrument(Instrument::get()) {}

    // Backplane, versions, three cards; probes on slots 1 and 2, none on 3.
    void setUpBoards() {
        instrument.sendBackplaneTexts({"TVL-4730-BP-XL", "C", "BP123", "2024-01-15"});
        instrument.sendVersions(2, 7, 1, 3);
        instrument.sendBoardTexts(1, {"CARD-MODEL-XYZ", "B", "S0001", "2023-11-30"});
        instrument.sendBoardTexts(2, {"CH-B", "A", "S0002", "2023-12-01"});
        instrument.sendBoardTexts(3, {"CH-C", "D", "S0003", "2023-12-02"});
        ASSERT_TRUE(instrument.insertProbe(1, 0, 3, "HP-100", "P1", "2024-02-01"));
        ASSERT_TRUE(instrument.insertProbe(2, 5, 4, "HP-4700-LONG", "P123456789", "2024-02-29"));
        ASSERT_TRUE(instrument.removeProbe(3));
        MeterModel& meter = instrument.meter();
        ASSERT_TRUE(waitUntil([&] {
            return meter.getBackplaneCalDate() == "2024-01-15" && meter.getPsuFirmwareVersion() == "1.3" &&
                   instrument.channel(3).getBoardCalDate() == "2023-12-02";
        }));
    }

    Instrument& instrument;
};

TEST_F(InfoPages, ThreeChannelPageListsMeterCardsAndProbesInColumns) {
    setUpBoards();
    SystemInfo4730Display page(5, 5, 498, 470);
    EXPECT_EQ(page.text(), "") << "empty until the first refresh";
    page.refresh();
    const std::vector<std::string> expected = {
        "",
        "",
        "          Meter        ",
        "          ------------ ",
        "Model:    TVL-4730-BP- ",
        "Serial:   BP123        ",
        "Cal Date: 2024-01-15   ",
        "Firmware: 1.6.1        ",
        "FP:       2.7          ",
        "BP:       1.3          ",
        "",
        "",
        "          Chan 1       Chan 2       Chan 3       ",
        "          ------------ ------------ ------------ ",
        "Model:    CARD-MODEL-X CH-B         CH-C         ",
        "Rev:      B            A            D            ",
        "Serial:   S0001        S0002        S0003        ",
        "Cal Date: 2023-11-30   2023-12-01   2023-12-02   ",
        "",
        "",
        "          Probe 1      Probe 2      Probe 3      ",
        "          ------------ ------------ ------------ ",
        "Class:    1X           10X          No Probe     ",
        "Type:     1 Axis Trans 3 Axis Prec               ",
        "Model:    HP-100       HP-4700-LONG              ",
        "Serial:   P1           P123456789                ",
        "Cal Date: 2024-02-01   2024-02-29                ",
    };
    EXPECT_EQ(lines(page.text()), expected);
    EXPECT_EQ(page.text().back(), '\n');

    // Rebuilt whole: a second refresh leaves one copy, with what changed.
    ASSERT_TRUE(instrument.removeProbe(1));
    page.refresh();
    const auto after = lines(page.text());
    ASSERT_EQ(after.size(), expected.size());
    EXPECT_EQ(after[22], "Class:    No Probe     10X          No Probe     ");
    EXPECT_EQ(after[23], "Type:                  3 Axis Prec               ");
    EXPECT_EQ(after[26], "Cal Date:              2024-02-29                ");

    // Look of the page.
    EXPECT_EQ(static_cast<unsigned>(page.color()), 0x271f8a00u);
    EXPECT_EQ(page.box(), FL_RFLAT_BOX);
    EXPECT_EQ(page.textfont(), FL_COURIER);
    EXPECT_EQ(page.textsize(), 16);
    EXPECT_EQ(static_cast<unsigned>(page.textcolor()), unsigned(FL_WHITE));
}

TEST_F(InfoPages, SingleChannelPageShowsSlotTwoIndentedAndUncut) {
    setUpBoards();
    instrument.sendBoardTexts(2, {"CHANNEL-MODEL2", "A", "S0002", "2023-12-01"});
    ASSERT_TRUE(waitUntil([&] { return instrument.channel(2).getBoardModel() == "CHANNEL-MODEL2"; }));
    SystemInfo4710Display page(5, 5, 498, 470);
    page.refresh();
    const std::string in(14, ' ');
    const std::vector<std::string> expected = {
        "",
        "",
        in + "          Meter        ",
        in + "          ------------ ",
        in + "Model:    TVL-4730-BP-XL",
        in + "Serial:   BP123        ",
        in + "Cal Date: 2024-01-15   ",
        in + "Firmware: 1.6.1        ",
        in + "FP:       2.7          ",
        in + "BP:       1.3          ",
        "",
        "",
        in + "             Channel      ",
        in + "          ------------ ",
        in + "Model:    CHANNEL-MODEL2",
        in + "Rev:      A            ",
        in + "Serial:   S0002        ",
        in + "Cal Date: 2023-12-01   ",
        "",
        "",
        in + "             Probe        ",
        in + "          ------------ ",
        in + "Class:    10X          ",
        in + "Type:     3 Axis Prec  ",
        in + "Model:    HP-4700-LONG ",
        in + "Serial:   P123456789   ",
        in + "Cal Date: 2024-02-29   ",
    };
    EXPECT_EQ(lines(page.text()), expected);
    // Columns counted from 1: "Meter" and the rules at 25, "Channel" at 28.
    EXPECT_EQ(lines(page.text())[2].find("Meter"), 24u);
    EXPECT_EQ(lines(page.text())[12].find("Channel"), 27u);

    ASSERT_TRUE(instrument.removeProbe(2));
    page.refresh();
    const auto noProbe = lines(page.text());
    EXPECT_EQ(noProbe[22], in + "Class:    No Probe     ");
    for (int row = 23; row <= 26; ++row) EXPECT_EQ(noProbe[row].substr(24), std::string(13, ' ')) << row;
}

TEST(InfoPageNames, ProbeTypeAndClassNamesAndColumnCut) {
    EXPECT_STREQ(SystemInfoDisplay::probeTypeName(0), "1 Axis Trans");
    EXPECT_STREQ(SystemInfoDisplay::probeTypeName(7), "3 Axis Ang P");
    EXPECT_STREQ(SystemInfoDisplay::probeTypeName(8), "Unknown");
    EXPECT_STREQ(SystemInfoDisplay::probeTypeName(-1), "Unknown");
    EXPECT_STREQ(SystemInfoDisplay::probeClassName(0), "Ultra Low F");
    EXPECT_STREQ(SystemInfoDisplay::probeClassName(1), "Korvix");
    EXPECT_STREQ(SystemInfoDisplay::probeClassName(6), "1000X");
    EXPECT_STREQ(SystemInfoDisplay::probeClassName(7), "Unknown");

    SystemInfo4730Display page(0, 0, 100, 100);
    EXPECT_EQ(page.fitToColumn("ABCDEFGHIJKLMN"), "ABCDEFGHIJKL");
    EXPECT_EQ(page.fitToColumn(std::string("short")), "short");
    EXPECT_EQ(page.fitToColumn(""), "");
}

class ErrorPage : public ::testing::Test {
protected:
    ErrorPage() {
        Instrument::get();
        ScpiErrorQueue::instance()->clear();
    }
    ~ErrorPage() override { ScpiErrorQueue::instance()->clear(); }
    static void push(int code, const std::string& detail) {
        auto record = ErrorList::instance()->lookup(code);
        record->setDetail(detail);
        ScpiErrorQueue::instance()->push(std::move(record));
    }
};

TEST_F(ErrorPage, ListsTheQueueOldestFirstOrNoErrors) {
    ErrorDisplay page(5, 5, 498, 470);
    EXPECT_EQ(page.text(), "");
    page.refresh();
    EXPECT_EQ(page.text(), "\nSystem Errors, Oldest to Newest\n\n No Errors\n");

    push(-500, "");
    push(-100, ":FOO:BAR");
    push(-200, ":MEAS:FLUX? with no probe on channel 2");
    page.refresh();
    page.refresh();   // one copy, not two
    EXPECT_EQ(lines(page.text()), (std::vector<std::string>{
                                      "",
                                      "System Errors, Oldest to Newest",
                                      "",
                                      "   -500   Power on ",
                                      "   -100   Command error :FOO:BAR",
                                      "   -200   Execution error :MEAS:FLUX? with no pr",
                                  }));
    EXPECT_EQ(static_cast<unsigned>(page.color()), 0x271f8a00u);
    EXPECT_EQ(page.textfont(), FL_COURIER);

    // The page shows what was true at its last refresh.
    ScpiErrorQueue::instance()->popOldest();
    EXPECT_EQ(lines(page.text()).size(), 6u);
    page.refresh();
    EXPECT_EQ(lines(page.text())[3], "   -100   Command error :FOO:BAR");
}

TEST_F(ErrorPage, RefreshReadsCopiesWhileAnotherThreadEmptiesTheQueue) {
    ErrorDisplay page(5, 5, 498, 470);
    std::atomic<bool> stop{false};
    std::thread remote([&] {
        while (!stop) {
            push(-100, std::string(200, 'x'));
            ScpiErrorQueue::instance()->popOldest();
            push(-200, "detail");
            ScpiErrorQueue::instance()->clear();
        }
    });
    for (int i = 0; i < 300; ++i) {
        page.refresh();
        for (const auto& line : lines(page.text())) ASSERT_LE(line.size(), 1u + 6u + 3u + 38u);
    }
    stop = true;
    remote.join();
}

}  // namespace
