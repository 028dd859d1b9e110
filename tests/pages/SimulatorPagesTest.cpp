// The information pages on what the simulator's cards, backplane and probes
// report: the program's meter model and the real mendra on a private bus.
#include "PagesFixture.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "pages/SystemInfoDisplay.h"
#include "support/TestDisplay.h"
#include "support/TestSupport.h"
#include "widgets/GuiThread.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

using testsupport::lines;

TEST(InfoPagesWithSimulator, ShowTheSimulatedBoardsAndProbes) {
    testsupport::TempSandbox sandbox;
    const std::string bus = testsupport::uniqueBusName("pm");
    testsupport::ChildProcess mendra;
    ASSERT_TRUE(mendra.start(testsupport::binPath("mendra"), {"-can", bus, "-sandbox", sandbox.path()}));
    ASSERT_TRUE(mendra.waitForOutput("Using CAN")) << mendra.output();
    gui::initGuiThread();
    testsupport::openTestDisplay();

    testing::internal::CaptureStdout();
    MeterModel* meter = MeterModel::instance(bus.c_str());
    meter->startBackplane();
    testing::internal::GetCapturedStdout();
    for (unsigned slot = 1; slot <= 3; ++slot) {
        meter->getChannel(slot)->requestAllData();
        std::this_thread::sleep_for(200ms);
    }
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (unsigned slot = 1; slot <= 3; ++slot)
            if (meter->getChannel(slot)->getChannelStatus() != kChannelProbeReady) return false;
        return meter->getBackplaneCalDate() == "01-01-1111";
    }, 30s, 50ms)) << mendra.output();
    // The board texts come ahead of the card-ready that connects the model's
    // reply handlers; the model asks for them again by itself.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (unsigned slot = 1; slot <= 3; ++slot)
            if (meter->getChannel(slot)->getBoardCalDate() != "01-01-1111") return false;
        return true;
    }, 30s, 50ms));

    SystemInfo4730Display three(5, 5, 498, 470);
    three.refresh();
    const auto rows = lines(three.text());
    ASSERT_EQ(rows.size(), 27u) << three.text();
    EXPECT_EQ(rows[4], "Model:    DEMO         ");
    EXPECT_EQ(rows[6], "Cal Date: 01-01-1111   ");
    // The cards' 14-character model is cut to its column.
    EXPECT_EQ(rows[14], "Model:    111112222233 111112222233 111112222233 ");
    EXPECT_EQ(rows[15], "Rev:      111          111          111          ");
    EXPECT_EQ(rows[24], "Model:    ABC123456789 ABC123456789 ABC123456789 ");
    EXPECT_EQ(rows[25], "Serial:   012345       012345       012345       ");
    EXPECT_EQ(rows[26], "Cal Date: 04-20-2020   04-20-2020   04-20-2020   ");
    for (unsigned slot = 1; slot <= 3; ++slot) {
        const ChannelModel* ch = meter->getChannel(slot);
        EXPECT_NE(rows[22].find(SystemInfoDisplay::probeClassName(ch->getProbeClass())), std::string::npos);
        EXPECT_NE(rows[23].find(SystemInfoDisplay::probeTypeName(ch->getProbeType())), std::string::npos);
    }

    SystemInfo4710Display one(5, 5, 498, 470);
    one.refresh();
    EXPECT_EQ(lines(one.text())[14], std::string(14, ' ') + "Model:    11111222223333");

    testing::internal::CaptureStdout();
    meter->stopCan();
    testing::internal::GetCapturedStdout();
}

}  // namespace
