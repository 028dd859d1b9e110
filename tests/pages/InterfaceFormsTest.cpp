// The network, firmware-update, GPIB and RS-232 forms on the program's
// meter model, its configuration objects and the sandbox's stand-in scripts.
#include "PagesFixture.h"

#include "pages/FirmwareUpdateDisplay.h"
#include "pages/GpibConfigDisplay.h"
#include "pages/NetworkConfigDisplay.h"
#include "pages/RS232ConfigDisplay.h"
#include "runtime/NetworkConfiguration.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <thread>

using pagestest::Instrument;
using testsupport::waitUntil;

namespace {

// A form's rows as "label=value" ("label=item|item:selected" for choices).
std::vector<std::string> rowTexts(const Form& form) {
    std::vector<std::string> out;
    for (unsigned i = 0;; ++i) {
        if (Fl_Choice* c = form.getChoice(i)) {
            std::string items;
            for (int k = 0; k < c->size() - 1; ++k) items += (k ? "|" : "") + std::string(c->menu()[k].label());
            out.push_back(std::string(c->label()) + "=" + items + ":" + std::to_string(c->value()));
        } else if (Fl_Input* in = form.getInput(i)) {
            out.push_back(std::string(in->label()) + "=" + in->value());
        } else {
            return out;
        }
    }
}

std::string statusText(const Form& form) {
    Fl_Box* box = form.getStatusBox();
    return box && box->visible() && box->label() ? box->label() : "(hidden)";
}

class InterfaceForms : public ::testing::Test {
protected:
    InterfaceForms() : instrument(Instrument::get()), meter(instrument.meter()) {}
    ~InterfaceForms() override { gui::runPending(); }
    Instrument& instrument;
    MeterModel& meter;
};

// ---- Network -----------------------------------------------------------------

TEST_F(InterfaceForms, NetworkPageLoadsTheConfigurationAndTogglesItsMode) {
    NetworkConfiguration& config = *meter.getNetworkConfiguration();
    config.setAddressMode(0);
    NetworkConfigDisplay page(5, 5, 498, 411);
    EXPECT_EQ(rowTexts(page), (std::vector<std::string>{
                                  "Address Mode: =DHCP|Manual:0",
                                  "IP Address: =" + config.getIpAddress(),
                                  "Netmask: =" + config.getNetmask(),
                                  "Gateway: =" + config.getGateway(),
                                  "DNS Server: =" + config.getDnsServer(),
                              }));
    EXPECT_EQ(config.getIpAddress(), "169.254.15.181") << "read through the network script";
    EXPECT_EQ(statusText(page), "(hidden)");
    EXPECT_EQ(page.getChoice(0)->x(), 5 + 249);
    EXPECT_EQ(page.getInput(4)->y(), 5 + 50 + 4 * 50);

    EXPECT_FALSE(page.isManual());
    page.toggleAddressMode();
    EXPECT_TRUE(page.isManual());
    page.toggleAddressMode();
    EXPECT_FALSE(page.isManual());
    page.getChoice(0)->value(static_cast<const Fl_Menu_Item*>(nullptr));
    EXPECT_FALSE(page.isManual());
    page.toggleAddressMode();
    EXPECT_EQ(page.getChoice(0)->value(), 0);

    config.setAddressMode(1);
    NetworkConfigDisplay manualPage(5, 5, 498, 411);
    EXPECT_TRUE(manualPage.isManual());
    config.setAddressMode(0);
}

TEST_F(InterfaceForms, NetworkApplyInDhcpModeKeepsTheStoredAddresses) {
    NetworkConfiguration& config = *meter.getNetworkConfiguration();
    config.setAddressMode(1);
    const std::string ip = config.getIpAddress(), gateway = config.getGateway();
    NetworkConfigDisplay page(5, 5, 498, 411);
    page.toggleAddressMode();   // DHCP
    page.getInput(1)->value("10.1.1.1");
    page.getInput(3)->value("10.1.1.254");
    page.applySettings();
    EXPECT_EQ(config.getAddressMode(), 0);
    EXPECT_EQ(config.getIpAddress(), ip);
    EXPECT_EQ(config.getGateway(), gateway);
}

TEST_F(InterfaceForms, NetworkFieldsThatAreNoAddressesAreRefusedAndNeverReachTheScript) {
    NetworkConfigDisplay page(5, 5, 498, 411);
    if (!page.isManual()) page.toggleAddressMode();
    page.getInput(1)->value("10.0.0.5; reboot");
    page.getInput(2)->value("255.255.255.0");
    page.getInput(3)->value("$(halt)");
    page.getInput(4)->value("10.0.0.53");
    const std::size_t calls = instrument.standinCalls().size();
    EXPECT_EQ(page.applyToSystem(), NetworkConfiguration::kInvalidIpAddress | NetworkConfiguration::kInvalidGateway);
    EXPECT_EQ(statusText(page), "Invalid  IP Address and Gateway");
    EXPECT_EQ(instrument.standinCalls().size(), calls) << "no script ran";

    // Valid fields are applied through the script, and the status box goes.
    page.getInput(1)->value("10.0.0.5");
    page.getInput(3)->value("10.0.0.1");
    EXPECT_EQ(page.applyToSystem(), 0);
    EXPECT_EQ(statusText(page), "(hidden)");
    EXPECT_EQ(instrument.standinCalls().back(),
              "tvl4700-network.sh --write 10.0.0.5 255.255.255.0 10.0.0.0 10.0.0.1 10.0.0.53 ");
    EXPECT_EQ(instrument.readFile("/etc/tvl4700-network"), "static 10.0.0.5 255.255.255.0 10.0.0.1 10.0.0.53 \n");

    page.toggleAddressMode();
    EXPECT_EQ(page.applyToSystem(), 0);
    EXPECT_EQ(instrument.standinCalls().back(), "tvl4700-network.sh --write dhcp");
}

TEST(NetworkMessage, NamesTheInvalidFieldsInTwoLines) {
    const struct {
        int bits;
        const char* text;
    } cases[] = {
        {0, ""},
        {1, "Invalid  IP Address"},
        {4, "Invalid Gateway"},
        {1 | 4, "Invalid  IP Address and Gateway"},
        {2 | 8, "Invalid Netmask and DNS Server"},
        {1 | 2 | 4, "Invalid  IP Address, Netmask, and \nGateway"},
        {2 | 4 | 8, "Invalid Netmask, Gateway, and \nDNS Server"},
        {1 | 2 | 8, "Invalid  IP Address, Netmask, and \nDNS Server"},
        {15, "Invalid  IP Address, Netmask, \nGateway, and DNS Server"},
        {16, ""},   // the extra field has no name on this page
    };
    for (const auto& c : cases) EXPECT_EQ(NetworkConfigDisplay::invalidFieldsMessage(c.bits), c.text) << c.bits;
}

// ---- Firmware update ------------------------------------------------------------

TEST_F(InterfaceForms, FirmwarePageShowsVersionsAndWhatStandsInTheWay) {
    FirmwareUpdateDisplay page(5, 5, 498, 411);
    EXPECT_EQ(rowTexts(page), (std::vector<std::string>{"Current Version: =Unknown", "Internet Version: =None",
                                                        "USB Drive Version: =None"}));
    EXPECT_EQ(statusText(page), "(hidden)");

    const struct {
        const char* network;
        const char* internet;
        const char* usb;
        std::vector<std::string> rows;
        const char* status;
        bool internetOffer, usbOffer;
    } cases[] = {
        {"no", "true 2.0.0", "nodrive",
         {"Current Version: =1.5.0", "Internet Version: =N/A", "USB Drive Version: =N/A"},
         "Network cable unplugged\nNo USB drive found", false, false},
        {"yes no", "true 2.0.0", "nofile",
         {"Current Version: =1.5.0", "Internet Version: =N/A", "USB Drive Version: =N/A"},
         "Internet not accessible\nFile not found on USB drive", false, false},
        {"yes yes", "false 1.5.0", "nodrive",
         {"Current Version: =1.5.0", "Internet Version: =1.5.0", "USB Drive Version: =N/A"},
         "No USB drive found", false, false},
        {"yes yes", "true 2.0.0", "2.1.0",
         {"Current Version: =1.5.0", "Internet Version: =2.0.0", "USB Drive Version: =2.1.0"}, "(hidden)", true,
         true},
    };
    instrument.writeFile("/etc/standin/tvl4700-fwcurrent.out", "1.5.0\n");
    for (const auto& c : cases) {
        instrument.writeFile("/etc/standin/tvl4700-nwstatus.out", std::string(c.network) + "\n");
        instrument.writeFile("/etc/standin/tvl4700-fwnetwork.out", std::string(c.internet) + "\n");
        instrument.writeFile("/etc/standin/tvl4700-fwusb.out", std::string(c.usb) + "\n");
        page.showMessage("stale");
        testing::internal::CaptureStdout();
        page.refresh();
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find("network status = "), std::string::npos);
        EXPECT_EQ(rowTexts(page), c.rows) << c.network << " / " << c.usb;
        EXPECT_EQ(statusText(page), c.status) << c.network << " / " << c.usb;
        EXPECT_EQ(isInternetFirmwareUpdateAvailable(), c.internetOffer);
        EXPECT_EQ(isUsbFirmwareUpdateAvailable(), c.usbOffer);
    }
}

// ---- GPIB ---------------------------------------------------------------------

TEST_F(InterfaceForms, GpibPageFollowsTheAddressAndAppliesItsField) {
    meter.setGpibAddress(7);
    GpibConfigDisplay page(5, 5, 498, 411);
    EXPECT_EQ(rowTexts(page), std::vector<std::string>{"GPIB Address (0-30): =7"});
    EXPECT_EQ(statusText(page), "(hidden)");

    // A change made elsewhere (a profile restore, a remote command) reaches
    // the field through the GUI thread.
    std::thread elsewhere([&] { meter.setGpibAddress(12); });
    elsewhere.join();
    EXPECT_EQ(page.getInput(0)->value(), std::string("7"));
    gui::runPending();
    EXPECT_EQ(page.getInput(0)->value(), std::string("12"));

    // (The connection outlives the test: its state lives on the heap.)
    auto announced = std::make_shared<std::atomic<int>>(-1);
    meter.signalGpibAddressChanged().connect([announced](int a) { *announced = a; });
    page.getInput(0)->value("21");
    page.applySettings();
    EXPECT_EQ(meter.getGpibAddress(), 21);
    EXPECT_EQ(*announced, 21);
    EXPECT_TRUE(meter.isSettingsDirty());
    page.getInput(0)->value("");
    page.applySettings();
    EXPECT_EQ(meter.getGpibAddress(), 0);
    gui::runPending();
    EXPECT_EQ(page.getInput(0)->value(), std::string("0"));
}

TEST_F(InterfaceForms, PageUpdatesPendingWhenThePageGoesAreDropped) {
    // The page lives in storage of the test's own, so that what an update
    // would do to it once it is gone shows: the storage is filled with a
    // pattern after the page's destructor, and an update that ran on it
    // would read garbage for its field (and crash) or write into it.
    alignas(GpibConfigDisplay) unsigned char storage[sizeof(GpibConfigDisplay)];
    auto* page = new (storage) GpibConfigDisplay(5, 5, 498, 411);
    gui::runPending();
    meter.setGpibAddress(3);
    meter.setGpibAddress(4);
    ASSERT_GE(gui::pendingCount(), 2u) << "the updates wait for the GUI thread";
    page->~GpibConfigDisplay();
    std::memset(storage, 0x5A, sizeof storage);
    gui::runPending();
    EXPECT_EQ(gui::pendingCount(), 0u);
    EXPECT_TRUE(std::all_of(std::begin(storage), std::end(storage), [](unsigned char b) { return b == 0x5A; }))
        << "an update ran on the page that went";
    // The pages that remain still follow the address.
    GpibConfigDisplay next(5, 5, 498, 411);
    meter.setGpibAddress(5);
    gui::runPending();
    EXPECT_EQ(next.getInput(0)->value(), std::string("5"));
}

// ---- RS-232 ---------------------------------------------------------------------

TEST_F(InterfaceForms, Rs232PageStepsItsChoicesAndAppliesThem) {
    RS232Configuration stored;
    stored.setSpeed(6);
    stored.setDataBits(1);
    stored.setStopBits(0);
    stored.setParity(2);
    stored.setFlowControl(1);
    meter.setRS232Configuration(stored);
    RS232ConfigDisplay page(5, 5, 498, 411);
    EXPECT_EQ(rowTexts(page), (std::vector<std::string>{
                                  "Speed: =2400|4800|9600|19200|38400|57600|115200:6",
                                  "Data Bits: =7|8:1",
                                  "Stop Bits: =1|2:0",
                                  "Parity: =None|Even|Odd:2",
                                  "Flow Control: =None|Software|Hardware:1",
                              }));
    EXPECT_EQ(statusText(page), "(hidden)");
    for (unsigned r = 0; r < 5; ++r) EXPECT_FALSE(page.getChoice(r)->visible_focus()) << r;

    page.nextSpeed();       // 115200 -> 2400
    page.nextDataBits();    // 8 -> 7
    page.nextParity();      // Odd -> None
    page.nextFlowControl(); // Software -> Hardware
    page.nextStopBits();
    page.nextStopBits();    // 1 -> 2 -> 1
    EXPECT_EQ(page.getChoice(0)->value(), 0);
    EXPECT_EQ(page.getChoice(1)->value(), 0);
    EXPECT_EQ(page.getChoice(2)->value(), 0);
    EXPECT_EQ(page.getChoice(3)->value(), 0);
    EXPECT_EQ(page.getChoice(4)->value(), 2);
    EXPECT_TRUE(page.getChoice(0)->visible_focus());
    EXPECT_TRUE(page.getChoice(2)->visible_focus());

    // Leaving and reopening drops what was not applied.
    page.showSettings();
    page.clearFocus();
    EXPECT_EQ(page.getChoice(0)->value(), 6);
    EXPECT_FALSE(page.getChoice(0)->visible_focus());

    // Applying, even unchanged, stores, marks for saving and tells the port.
    auto changes = std::make_shared<std::atomic<int>>(0);
    meter.signalRS232ConfigurationChanged().connect([changes](RS232Configuration) { ++*changes; });
    meter.onSaveTimer();   // written: nothing left to save
    ASSERT_FALSE(meter.isSettingsDirty());
    page.applySettings();
    EXPECT_EQ(*changes, 1);
    EXPECT_TRUE(meter.isSettingsDirty());
    page.nextSpeed();
    page.applySettings();
    EXPECT_EQ(meter.getRS232Configuration().getSpeed(), 0);
    EXPECT_EQ(meter.getRS232Configuration().getParity(), 2);
}

TEST_F(InterfaceForms, Rs232CodesOutsideTheMenusShowNoSelection) {
    RS232Configuration bad;
    bad.setSpeed(9);       // a settings file or a remote command may hold anything
    bad.setParity(-1);
    meter.setRS232Configuration(bad);
    RS232ConfigDisplay page(5, 5, 498, 411);
    EXPECT_EQ(page.getChoice(0)->value(), -1);
    EXPECT_EQ(page.getChoice(3)->value(), -1);
    EXPECT_EQ(page.getChoice(1)->value(), 1);
    page.applySettings();   // rows without a selection keep the defaults
    EXPECT_EQ(meter.getRS232Configuration().getSpeed(), 2);
    EXPECT_EQ(meter.getRS232Configuration().getParity(), 0);
    page.nextSpeed();
    EXPECT_EQ(page.getChoice(0)->value(), 0);
}

}  // namespace
