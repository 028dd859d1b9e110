// The menu actions that show pages and attach the keypad: which page is on
// the screen, which field the keypad types into, with which limit.
#include "MenusFixture.h"

#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuFooter.h"
#include "frontpanel/MessagePopup.h"
#include "frontpanel/NumericKeypad.h"
#include "frontpanel/SoftButton.h"
#include "pages/AnalogOutScalingDisplay.h"
#include "pages/DateTimeDisplay.h"
#include "pages/ErrorDisplay.h"
#include "pages/GpibConfigDisplay.h"
#include "pages/NetworkConfigDisplay.h"
#include "pages/NumericDisplay.h"
#include "pages/ProfilesDisplay.h"
#include "pages/RS232ConfigDisplay.h"
#include "runtime/ErrorList.h"
#include "status/ScpiErrorQueue.h"
#include "widgets/Form.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <string>

using menustest::follow;
using menustest::Instrument;
using menustest::press;

namespace {

MainWindow& window() { return Instrument::get().window(); }

bool onScreen(Fl_Widget* w) { return w && window().find(w) < window().children() && w->visible(); }

// Types keys into the keypad's field, as "Press" does: returns the text.
std::string type(const std::string& keys) {
    NumericKeypad* keypad = window().numericKeypad;
    Fl_Input* field = keypad->getAttachedInput();
    if (!field) return "<no field>";
    gui::Lock lock;
    field->value("");
    field->position(0);
    for (char k : keys) keypad->onKeyButton(keypad->key(k == '.' ? NumericKeypad::kDecimalPointKey : k - '0'));
    return field->value();
}

std::string status(Form* form) {
    Fl_Box* box = form->getStatusBox();
    return box && box->visible() && box->label() ? box->label() : "";
}

}  // namespace

// The GPIB address: its page and the keypad, whole numbers up to 30.
TEST(MenuPages, GpibConfigurationTypesTheAddressUpToThirty) {
    MainWindow& w = window();
    ASSERT_NE(w.gpibConfigDisplay, nullptr);
    Menu* comm = follow(w.mainMenu, {"System", "Comm\nSetup"});
    ASSERT_TRUE(press(comm, "GPIB\nConfiguration"));
    EXPECT_EQ(w.currentMenu, follow(comm, {"GPIB\nConfiguration"}));
    EXPECT_TRUE(onScreen(w.gpibConfigDisplay));
    EXPECT_TRUE(onScreen(w.numericKeypad));
    EXPECT_EQ(w.numericKeypad->getAttachedInput(), w.gpibConfigDisplay->getInput(0));
    EXPECT_TRUE(w.numericKeypad->isKeyDisabled(NumericKeypad::kDecimalPointKey));
    EXPECT_EQ(type("30"), "30");
    EXPECT_EQ(type("31"), "3");
}

// "Custom Full Scale": the keypad page, then the prompt's form, then the
// keypad on the form's field, volts up to 10.
TEST(MenuPages, CustomFullScaleShowsItsFormAndTypesVoltsUpToTen) {
    MainWindow& w = window();
    MeterModel& meter = Instrument::get().meter();
    struct Custom {
        std::initializer_list<const char*> path;
        Form* form;
        int tenths;   // the full scale the form shows
    };
    const Custom cases[] = {
        {{"External\nOutputs", "Analog\nOutputs", "Channel 2", "Corrected", "Scaling"}, w.corrScalingDisplays[1],
         meter.getChannel(2)->getCdacScaling()},
        {{"External\nOutputs", "Analog\nOutputs", "Channel 3", "Uncorrected", "Scaling"}, w.uncorrScalingDisplays[2],
         meter.getChannel(3)->getUdacScaling()},
        {{"External\nOutputs", "Analog\nOutputs", "Vector\nSum", "Scaling"}, w.vsumScalingDisplay,
         meter.getVectorSumOutputScaling()},
    };
    for (const Custom& c : cases) {
        ASSERT_NE(c.form, nullptr);
        Menu* scaling = follow(w.mainMenu, c.path);
        ASSERT_TRUE(press(scaling, "Custom\nFull Scale"));
        SCOPED_TRACE(w.currentMenu->getTitle());
        EXPECT_EQ(w.currentMenu, follow(scaling, {"Custom\nFull Scale"}));
        EXPECT_TRUE(onScreen(c.form));
        EXPECT_TRUE(onScreen(w.numericKeypad)) << "the keypad comes after the form";
        EXPECT_EQ(status(c.form), "Press <Enter> to Apply");
        EXPECT_EQ(std::string(c.form->getInput(0)->value()),
                  std::to_string(c.tenths / 10) + "." + std::to_string(c.tenths % 10));
        EXPECT_EQ(w.numericKeypad->getAttachedInput(), c.form->getInput(0));
        EXPECT_EQ(type("10.0"), "10.0");
        EXPECT_EQ(type("11"), "1");
        w.currentMenu->emitBack();   // leaves the page: the keypad goes
        EXPECT_FALSE(onScreen(w.numericKeypad));
        EXPECT_FALSE(onScreen(c.form));
    }
}

// The address and date fields: the keypad types into the row of the entry.
TEST(MenuPages, AddressAndDateEntriesAttachTheKeypadToTheirRow) {
    MainWindow& w = window();
    ASSERT_NE(w.networkConfigDisplay, nullptr);
    ASSERT_NE(w.dateTimeDisplay, nullptr);
    Menu* comm = follow(w.mainMenu, {"System", "Comm\nSetup"});
    ASSERT_TRUE(press(comm, "Network\nConfiguration"));
    EXPECT_TRUE(onScreen(w.networkConfigDisplay));
    w.showNetworkAddressItems();
    const char* network[4] = {"Change\nIP Addr", "Change\nNetmask", "Change\nGateway", "Change\nDNS #1"};
    for (int row = 1; row <= 4; ++row) {
        SCOPED_TRACE(network[row - 1]);
        ASSERT_TRUE(press(w.networkConfigMenu, network[row - 1]));
        EXPECT_EQ(w.numericKeypad->getAttachedInput(), w.networkConfigDisplay->getInput(row));
        EXPECT_TRUE(onScreen(w.numericKeypad));
        EXPECT_TRUE(onScreen(w.networkConfigDisplay));
        EXPECT_EQ(type("10.1"), "10.1");
    }
    w.hideNetworkAddressItems();

    Menu* date = follow(w.mainMenu, {"System", "Set Date\nand Time"});
    const char* fields[5] = {"Change\nYear", "Change\nMonth", "Change\nDay", "Change\nHour", "Change\nMinute"};
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(fields[row]);
        ASSERT_TRUE(press(date, fields[row]));
        EXPECT_EQ(w.numericKeypad->getAttachedInput(), w.dateTimeDisplay->getInput(row));
    }
}

// Each "Change ..." entry steps its own choice of the RS-232 page.
TEST(MenuPages, Rs232EntriesStepTheirChoice) {
    MainWindow& w = window();
    ASSERT_NE(w.rs232ConfigDisplay, nullptr);
    Menu* rs232 = follow(w.mainMenu, {"System", "Comm\nSetup", "RS232\nConfiguration"});
    const char* entries[5] = {"Change\nSpeed", "Change\nData Bits", "Change\nStop Bits", "Change\nParity",
                              "Change\nFlow Control"};
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(entries[row]);
        int before[5];
        for (int i = 0; i < 5; ++i) before[i] = w.rs232ConfigDisplay->getChoice(i)->value();
        ASSERT_TRUE(press(rs232, entries[row]));
        for (int i = 0; i < 5; ++i) {
            Fl_Choice* choice = w.rs232ConfigDisplay->getChoice(i);
            const int items = choice->size() - 1;   // without the menu's terminator
            EXPECT_EQ(choice->value(), i == row ? (before[i] + 1) % items : before[i]) << "choice " << i;
        }
    }
}

// Every readout and page leaves the window; the soft buttons, the footer and
// the pop-up stay.  The keypad is detached: a key pressed later writes into
// no hidden form.
TEST(MenuPages, HideAllPanelsLeavesOnlyTheButtonsTheFooterAndThePopup) {
    MainWindow& w = window();
    ASSERT_TRUE(press(follow(w.mainMenu, {"System", "Comm\nSetup"}), "GPIB\nConfiguration"));
    ASSERT_TRUE(onScreen(w.gpibConfigDisplay));
    Fl_Input* address = w.gpibConfigDisplay->getInput(0);
    const int before = w.children();
    gui::Lock lock;
    ASSERT_EQ(w.numericKeypad->getAttachedInput(), address);
    const std::string typed = address->value();
    w.hideAllPanels();
    EXPECT_EQ(w.numericKeypad->getAttachedInput(), nullptr);
    EXPECT_FALSE(address->active());
    w.numericKeypad->key(1)->do_callback();
    EXPECT_EQ(address->value(), typed);
    EXPECT_FALSE(onScreen(w.gpibConfigDisplay));
    EXPECT_FALSE(onScreen(w.numericKeypad));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(onScreen(w.numericDisplays[i]));
    EXPECT_LT(w.children(), before);
    for (int i = 0; i < w.children(); ++i) {
        Fl_Widget* child = w.child(i);
        bool kept = child == w.menuFooter || child == w.messagePopup;
        for (SoftButton* b : w.softButtons) kept = kept || child == b;
        EXPECT_TRUE(kept) << "child " << i;
    }
}

TEST(MenuPages, ProfileAndDateEntriesRunTheirPage) {
    MainWindow& w = window();
    ASSERT_NE(w.profilesDisplay, nullptr);
    Menu* profiles = follow(w.mainMenu, {"System", "User Setup\nSave-Recall"});
    {
        gui::Lock lock;
        w.profilesDisplay->getInput(0)->value("3");
    }
    ASSERT_TRUE(press(profiles, "Save"));
    EXPECT_EQ(status(w.profilesDisplay), "Profile Saved");

    Menu* date = follow(w.mainMenu, {"System", "Set Date\nand Time"});
    {
        gui::Lock lock;
        w.dateTimeDisplay->getInput(1)->value("13");
    }
    ASSERT_TRUE(press(date, "Set Date\nand Time"));
    EXPECT_NE(status(w.dateTimeDisplay).find("Invalid"), std::string::npos) << status(w.dateTimeDisplay);
}

// "Refresh", "Clear Oldest", "Clear All" of the error page.
TEST(MenuPages, ErrorEntriesClearTheQueueAndRefreshThePage) {
    MainWindow& w = window();
    Menu* errors = follow(w.mainMenu, {"System", "More...", "Display\nErrors"});
    ScpiErrorQueue* queue = ScpiErrorQueue::instance();
    queue->clear();
    for (int code : {-100, -200, -500}) queue->push(ErrorList::instance()->lookup(code));
    ASSERT_TRUE(press(errors, "Refresh"));
    EXPECT_EQ(w.errorDisplay->text(), ErrorDisplay::formatErrors(queue->getErrors()));
    ASSERT_TRUE(press(errors, "Clear\nOldest"));
    EXPECT_EQ(queue->size(), 2u);
    EXPECT_EQ(w.errorDisplay->text(), ErrorDisplay::formatErrors(queue->getErrors()));
    ASSERT_TRUE(press(errors, "Clear\nAll"));
    EXPECT_EQ(queue->size(), 0u);
    EXPECT_EQ(w.errorDisplay->text(), ErrorDisplay::formatErrors({}));
}
