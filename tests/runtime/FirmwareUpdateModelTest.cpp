#include "runtime/FirmwareUpdateModel.h"

#include "ScriptFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Each stand-in status script prints the file <name>.out; the internet
// script also leaves a marker that it ran.
class FirmwareUpdateModelTest : public ::testing::Test {
protected:
    testsupport::TempSandbox sandbox{false};
    std::string dir = sandbox.file("/usr/sbin");
    std::string internetRan = dir + "/fwnetwork.ran";

    void SetUp() override {
        mkdir((sandbox.path() + "/usr").c_str(), 0755);
        mkdir(dir.c_str(), 0755);
        for (const char* name : {"nwstatus", "fwcurrent", "fwnetwork", "fwusb"}) {
            std::string extra = std::string(name) == "fwnetwork" ? "touch \"$d/fwnetwork.ran\"\n" : "";
            rtmtest::writeScript(dir + "/tvl4700-" + name + ".sh",
                                 "d=$(dirname \"$0\")\n" + extra + "cat \"$d/" + name + ".out\"\n");
        }
    }

    void outputs(const char* nwstatus, const char* fwcurrent, const char* fwnetwork, const char* fwusb) {
        testsupport::writeFile(dir + "/nwstatus.out", nwstatus);
        testsupport::writeFile(dir + "/fwcurrent.out", fwcurrent);
        testsupport::writeFile(dir + "/fwnetwork.out", fwnetwork);
        testsupport::writeFile(dir + "/fwusb.out", fwusb);
        std::remove(internetRan.c_str());
    }
};

TEST_F(FirmwareUpdateModelTest, BeforeTheFirstRefreshNothingIsKnown) {
    FirmwareUpdateModel m;
    EXPECT_EQ(m.getNetworkStatus(), 0);
    EXPECT_EQ(m.getUsbStatus(), 0);
    EXPECT_EQ(m.getCurrentVersion(), "Unknown");
    EXPECT_EQ(m.getInternetVersion(), "Unknown");
    EXPECT_EQ(m.getUsbVersion(), "Unknown");
    EXPECT_FALSE(m.isInternetUpdateAvailable());
    EXPECT_FALSE(m.isUsbUpdateAvailable());
}

struct RefreshCase {
    const char* nwstatus;
    const char* fwcurrent;
    const char* fwnetwork;
    const char* fwusb;
    int network;
    bool internetScriptRuns;
    const char* current;
    const char* internetVersion;
    bool internetUpdate;
    int usb;
    const char* usbVersion;
    bool usbUpdate;
};

TEST_F(FirmwareUpdateModelTest, RefreshParsesTheFirstLineOfEachScript) {
    const RefreshCase cases[] = {
        {"yes yes\n", "1.2.3\n", "true 1.3.0\n", "1.3.1\n", 2, true, "1.2.3", "1.3.0", true, 2, "1.3.1", true},
        {"no\n", "1.2.3\n", "true 1.3.0\n", "nodrive\n", 0, false, "1.2.3", "N/A", false, 0, "N/A", false},
        {"yes no\n", "1.2.3 extra\n", "true 1.3.0\n", "nofile\n", 1, false, "1.2.3", "N/A", false, 1, "N/A",
         false},
        {"", "", "false 1.2.3\n", "nofile\n", 2, true, "", "1.2.3", false, 1, "N/A", false},
        {"up up\n", "2.0\n", "true\n", "nodrive\nnofile\n", 2, true, "2.0", "N/A", true, 0, "N/A", false},
        {"up up\nno no\n", "2.0\n", "\n", "2.1 more words\n", 2, true, "2.0", "N/A", false, 2, "2.1", true},
    };
    for (const RefreshCase& c : cases) {
        SCOPED_TRACE(std::string(c.nwstatus) + "|" + c.fwnetwork + "|" + c.fwusb);
        outputs(c.nwstatus, c.fwcurrent, c.fwnetwork, c.fwusb);
        FirmwareUpdateModel m;
        m.refresh();
        EXPECT_EQ(m.getNetworkStatus(), c.network);
        EXPECT_EQ(testsupport::exists(internetRan), c.internetScriptRuns);
        EXPECT_EQ(m.getCurrentVersion(), c.current);
        EXPECT_EQ(m.getInternetVersion(), c.internetVersion);
        EXPECT_EQ(m.isInternetUpdateAvailable(), c.internetUpdate);
        EXPECT_EQ(m.getUsbStatus(), c.usb);
        EXPECT_EQ(m.getUsbVersion(), c.usbVersion);
        EXPECT_EQ(m.isUsbUpdateAvailable(), c.usbUpdate);
    }
}

TEST_F(FirmwareUpdateModelTest, ALaterRefreshResetsWhatTheEarlierOneFound) {
    outputs("yes yes\n", "1.0\n", "true 1.1\n", "1.1\n");
    FirmwareUpdateModel m;
    m.refresh();
    ASSERT_TRUE(m.isInternetUpdateAvailable());
    ASSERT_TRUE(m.isUsbUpdateAvailable());
    outputs("yes no\n", "1.0\n", "true 1.1\n", "nofile\n");
    m.refresh();
    EXPECT_EQ(m.getNetworkStatus(), 1);
    EXPECT_EQ(m.getInternetVersion(), "N/A");
    EXPECT_FALSE(m.isInternetUpdateAvailable());
    EXPECT_EQ(m.getUsbVersion(), "N/A");
    EXPECT_FALSE(m.isUsbUpdateAvailable());
}

TEST_F(FirmwareUpdateModelTest, MissingScriptsLeaveTheirFieldsAsTheyStand) {
    outputs("yes yes\n", "1.0\n", "true 1.1\n", "1.1\n");
    FirmwareUpdateModel m;
    m.refresh();
    for (const char* name : {"nwstatus", "fwcurrent", "fwnetwork", "fwusb"})
        std::remove((dir + "/tvl4700-" + name + ".sh").c_str());
    testing::internal::CaptureStderr();   // the layer's refusal lines
    m.refresh();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(m.getNetworkStatus(), 2);
    EXPECT_EQ(m.getCurrentVersion(), "1.0");
    EXPECT_EQ(m.getInternetVersion(), "N/A");
    EXPECT_FALSE(m.isInternetUpdateAvailable());
    EXPECT_EQ(m.getUsbStatus(), 2);
    EXPECT_EQ(m.getUsbVersion(), "N/A");
    EXPECT_FALSE(m.isUsbUpdateAvailable());
}

}  // namespace
