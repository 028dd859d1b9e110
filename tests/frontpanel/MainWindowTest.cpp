// The main window over a real meter model and mendra's three cards: the
// start-up step, the model-signal handlers (which hand their menu work to
// the GUI thread), the front-panel keys, the pop-up and its Enter press,
// the readouts' layout and the actions of the window.
#include "MainWindowFixture.h"
#include "../widgets/WidgetTestSupport.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "frontpanel/ButtonHandler.h"
#include "frontpanel/ButtonView.h"
#include "frontpanel/EngineeringPasswordDisplay.h"
#include "frontpanel/MainWindow.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MessagePopup.h"
#include "frontpanel/NumericKeypad.h"
#include "frontpanel/SoftButton.h"
#include "pages/FirmwareUpdateDisplay.h"
#include "pages/NumericDisplay.h"
#include "pages/VectorSumDisplay.h"
#include "meter/MeterModel.h"
#include "runtime/FileIoManager.h"
#include "status/ScpiErrorQueue.h"
#include "support/TestSupport.h"
#include "widgets/Form.h"
#include "widgets/GuiThread.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

using namespace mwtest;

bool mwtest::withCards() { return true; }

namespace {

TEST(MainWindowStartup, ThreeCardsGiveTheThreeChannelModel) {
    EXPECT_TRUE(mw->meterModel->isThreeChannelModel());
    ASSERT_NE(mw->keyInterface, nullptr);
    ASSERT_NE(mw->buttonHandler, nullptr);
    ASSERT_NE(mw->buttonView, nullptr);
    // The three SCPI servers and the JSON server, kept whether they opened or not.
    EXPECT_EQ(mw->startedObjects.size(), 4u);
    const int tops[6] = {0, 62, 124, 188, 250, 312};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(mw->softButtons[k]->x(), 508);
        EXPECT_EQ(mw->softButtons[k]->y(), tops[k]);
        EXPECT_EQ(mw->softButtons[k]->w(), 132);
        EXPECT_EQ(mw->softButtons[k]->h(), 60);
    }
}

TEST(MainWindowHandlers, PowerOnOptionsEntryIsAddedOnce) {
    Menu* more = mw->systemMoreMenu;
    MenuElement* entry = mw->powerOnEntry;
    RadioButtonMenu* options = mw->powerOnMenu;
    more->removeItem(entry);
    const int before = more->getItemCount();
    // The backplane link's reader reports the mode, as often as the
    // controller sends it.
    std::thread reader([] {
        for (int i = 0; i < 3; ++i) mw->meterModel->signalPowerOnModeReceived().emit();
    });
    reader.join();
    gui::runPending();
    EXPECT_EQ(occurrences(more, entry), 1);
    EXPECT_EQ(more->getItemCount(), before + 1);
    EXPECT_EQ(options->getSelected(), mw->meterModel->getPowerOnMode());
}

TEST(MainWindowHandlers, ChannelReadersNeverChangeMenusThemselves) {
    // Three cards report at once: each reader thread runs its handler while
    // this (GUI) thread holds the toolkit lock.  The handlers must neither
    // wait for that lock nor touch the menus: the menus change here, in
    // order, when the queue runs.
    for (int i = 0; i < 3; ++i) {
        mw->channelMenus[i]->removeItem(mw->acFreqEntries[i]);
        ASSERT_GE(mw->channelMenus[i]->getItemCount(), 3);
    }
    std::atomic<int> done{0};
    std::vector<std::thread> readers;
    for (int c = 1; c <= 3; ++c)
        readers.emplace_back([c, &done] {
            ChannelModel* ch = mw->meterModel->getChannel(static_cast<unsigned>(c));
            for (int i = 0; i < 50; ++i) ch->signalChannelStatusChanged().emit(c, 0);
            ++done;
        });
    const bool finished = testsupport::waitUntil([&] { return done.load() == 3; }, 10s);
    if (!finished) Fl::unlock();   // let them end before failing
    for (auto& t : readers) t.join();
    if (!finished) Fl::lock();
    ASSERT_TRUE(finished) << "a channel handler waited for the toolkit lock";
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(mw->channelMenus[i]->hasItem(mw->acFreqEntries[i])) << i;

    gui::runPending();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(occurrences(mw->channelMenus[i], mw->acFreqEntries[i]), 1) << i;
        EXPECT_EQ(mw->channelMenus[i]->getItem(3), mw->acFreqEntries[i]) << i;
    }
}

TEST(MainWindowKeys, SoftKeyPressesItsButtonForAWhileAndSelectsTheItem) {
    Menu menu("Test");
    std::vector<int> selected;
    MenuElement items[2] = {MenuElement("one"), MenuElement("two")};
    for (int i = 0; i < 2; ++i) {
        items[i].signalActivated().connect([&selected, i] { selected.push_back(i); });
        menu.addItem(&items[i]);
    }
    Menu* saved = mw->currentMenu;
    mw->currentMenu = &menu;
    mw->onFrontPanelKey(2);
    mw->onFrontPanelKey(4);   // no item there: the button is still pressed
    EXPECT_TRUE(mw->softButtons[1]->isPressed());
    EXPECT_TRUE(mw->softButtons[3]->isPressed());
    EXPECT_EQ(selected, std::vector<int>{1});
    EXPECT_TRUE(pump([] { return !mw->softButtons[1]->isPressed() && !mw->softButtons[3]->isPressed(); }))
        << "the release timers give the buttons their look back";
    mw->currentMenu = saved;
}

TEST(MainWindowKeys, BackLeavesForTheParentAfterItsBackSignal) {
    Menu parent("Parent"), child("Child");
    MenuElement a("a"), b("b"), c("c");
    parent.addItem(&a);
    parent.addItem(&b);
    parent.addItem(&c);
    child.setParent(&parent);
    std::vector<std::string> events;
    child.signalBack().connect([&] { events.push_back(mw->currentMenu == &child ? "back in child" : "?"); });
    Menu* saved = mw->currentMenu;
    mw->currentMenu = &child;
    mw->onFrontPanelKey(31);
    EXPECT_EQ(mw->currentMenu, &parent);
    EXPECT_EQ(events, std::vector<std::string>{"back in child"});
    EXPECT_STREQ(mw->softButtons[2]->label(), "c");
    EXPECT_TRUE(pump([] { return mw->buttonView->getLevel(3) == 1 && mw->buttonView->getLevel(4) == 0; }));

    Menu orphan("Orphan");
    mw->currentMenu = &orphan;
    mw->onFrontPanelKey(31);
    EXPECT_EQ(mw->currentMenu, &orphan) << "no parent: Back does nothing";
    mw->currentMenu = saved;
}

TEST(MainWindowKeys, HiddenSequenceTogglesTheEngineeringEntry) {
    Menu* more = mw->systemMoreMenu;
    MenuElement* engineering = mw->engineeringElement;
    more->removeItem(engineering);
    const int sequence[5] = {31, 31, 30, 22, 14};
    for (int i = 0; i < 5; ++i) mw->engineeringSequence[i] = sequence[i];
    mw->engineeringSequencePos = 0;
    Menu start("Start");
    start.setParent(&start);
    Menu* saved = mw->currentMenu;
    mw->currentMenu = &start;

    int backs = 0;
    start.signalBack().connect([&] { ++backs; });
    // A soft key between the keys of the sequence does not break it; the
    // first two keys still do their own work (Back), the others do not.
    for (int key : {31, 1, 31, 30, 22, 14}) mw->onFrontPanelKey(key);
    EXPECT_EQ(backs, 2);
    EXPECT_EQ(occurrences(more, engineering), 1);
    EXPECT_EQ(mw->engineeringSequencePos, 0);

    // A wrong key resets the match and does its own work.
    for (int key : {31, 31, 29, 31, 31, 30, 22, 14}) mw->onFrontPanelKey(key);
    EXPECT_EQ(backs, 6);
    EXPECT_EQ(occurrences(more, engineering), 0) << "a second sequence hides it again";
    mw->currentMenu = saved;
    EXPECT_TRUE(pump([] { return !mw->softButtons[0]->isPressed(); }));
}

TEST(MainWindowPrompts, MessageWaitsForEnterAndDropsOtherKeys) {
    Menu parent("Parent"), child("Child");
    child.setParent(&parent);
    Menu* saved = mw->currentMenu;
    mw->currentMenu = &child;

    mw->showMessage("First");
    mw->showMessage("Second");   // one pop-up: the same Enter press dismisses it
    EXPECT_TRUE(mw->messageShown);
    EXPECT_TRUE(mw->messagePopup->visible());
    EXPECT_NE(std::string(mw->messagePopup->message()).find("Second"), std::string::npos);
    EXPECT_TRUE(mw->buttonView->isDisabled());
    EXPECT_EQ(mw->buttonView->getLevel(32), 1);

    mw->onFrontPanelKey(31);
    EXPECT_EQ(mw->currentMenu, &child) << "keys are dropped while the pop-up waits";

    mw->keyInterface->signalKeyPressed().emit(32);
    EXPECT_FALSE(mw->messageShown);
    EXPECT_FALSE(mw->messagePopup->visible());
    EXPECT_FALSE(mw->buttonView->isDisabled());
    EXPECT_EQ(mw->buttonView->getLevel(32), 0);
    EXPECT_FALSE(mw->buttonHandler->isArmed());
    mw->currentMenu = saved;
}

TEST(MainWindowPrompts, PasswordPageOpensTheEngineerMenuOnEnter) {
    Menu* saved = mw->currentMenu;
    Form* page = mw->passwordDisplay;
    auto status = [page] { return std::string(page->getStatusBox()->label()); };
    auto press = [](int key) { mw->keyInterface->signalKeyPressed().emit(key); };

    mw->showPasswordPanel();
    EXPECT_EQ(page->parent(), mw);
    EXPECT_EQ(status(), "Enter the engineering password and\nthen press Enter button");
    EXPECT_EQ(mw->numericKeypad->getAttachedInput(), page->getInput(0));
    EXPECT_EQ(mw->buttonView->getLevel(32), 1);
    page->getInput(0)->value("12345");
    press(32);
    EXPECT_EQ(status(), "Incorrect Password\nTry Again");
    EXPECT_EQ(mw->currentMenu, saved);
    press(32);   // not armed again: nothing
    EXPECT_EQ(mw->currentMenu, saved);

    mw->showPasswordPanel();
    press(31);   // Back drops the prompt
    EXPECT_FALSE(mw->buttonHandler->isArmed());
    mw->currentMenu = saved;

    mw->showPasswordPanel();
    mw->showPasswordPanel();   // opened twice, answered once
    page->getInput(0)->value("58214");
    press(32);
    EXPECT_EQ(mw->currentMenu, mw->engineerMenu);
    EXPECT_EQ(mw->engineerMenu->getParent(), mw->mainMenu);
    EXPECT_STREQ(page->getInput(0)->value(), "");
    EXPECT_NE(page->parent(), mw) << "the readouts are back";
    EXPECT_EQ(mw->numericDisplays[0]->parent(), mw);
    EXPECT_FALSE(mw->buttonHandler->isArmed());
    mw->gotoMenu(mw->mainMenu);
}

TEST(MainWindowPrompts, FirmwareUpdateRunsOnEnterUnlessBackCancels) {
    Form* page = mw->firmwareUpdateDisplay;
    auto status = [page] { return std::string(page->getStatusBox()->label()); };
    auto press = [](int key) { mw->keyInterface->signalKeyPressed().emit(key); };
    // Runs of a script, as the stand-ins log them.
    auto runs = [](const std::string& script) {
        std::ifstream log(sandboxFile("/var/log/standin.log"));
        std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        std::size_t n = 0;
        for (std::size_t at = text.find(script); at != std::string::npos; at = text.find(script, at + 1)) ++n;
        return n;
    };
    const std::string usb = "tvl4700-usb-update.sh", internet = "tvl4700-update.sh";
    const std::size_t before = runs(usb);

    mw->promptUsbFirmwareUpdate();
    EXPECT_EQ(status(), "Press Enter button to update\nfirmware from USB drive and reboot.");
    press(31);
    press(32);
    EXPECT_EQ(runs(usb), before) << "Back cancelled the update";

    mw->promptUsbFirmwareUpdate();
    press(32);
    EXPECT_EQ(runs(usb), before + 1);
    EXPECT_EQ(status(), "Firmware is being installed.\nPlease wait...");

    // Both offered: the second choice replaces the first, and Enter runs
    // what the box asks for, once.
    const std::size_t usbBefore = runs(usb), internetBefore = runs(internet);
    mw->promptUsbFirmwareUpdate();
    mw->promptInternetFirmwareUpdate();
    EXPECT_EQ(status(), "Press Enter button to update\nfirmware from Internet and reboot.");
    press(32);
    EXPECT_EQ(runs(internet), internetBefore + 1);
    EXPECT_EQ(status(), "Firmware is being downloaded.\nPlease wait...");
    press(32);
    EXPECT_EQ(runs(usb), usbBefore) << "the USB update was replaced, never run";
    EXPECT_EQ(runs(internet), internetBefore + 1);
    EXPECT_FALSE(mw->buttonHandler->isArmed());
    mw->gotoMenu(mw->mainMenu);
}

TEST(MainWindowLayout, ReadoutsShareTheScreenByTheShowFlags) {
    struct Case {
        bool flags[4];   // channels 1-3, vector sum
        int height;      // of each readout shown
    };
    const Case cases[] = {{{true, true, true, false}, 160},
                          {{true, false, true, false}, 240},
                          {{true, true, true, true}, 120},
                          {{false, false, false, true}, 480},
                          {{false, false, false, false}, 0}};
    Fl_Widget* readouts[4] = {mw->numericDisplays[0], mw->numericDisplays[1], mw->numericDisplays[2],
                              mw->vectorSumDisplay};
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i) mw->showChannel[i] = c.flags[i];
        mw->showVectorSum = c.flags[3];
        mw->showMeasurementDisplays();
        int top = 0, shown = 0;
        for (int i = 0; i < 4; ++i) {
            const bool in = readouts[i]->parent() == mw;
            EXPECT_EQ(in, c.flags[i]) << "readout " << i << " of case " << c.height;
            if (!c.flags[i]) continue;
            ++shown;
            EXPECT_TRUE(readouts[i]->visible());
            EXPECT_EQ(readouts[i]->x(), 0);
            EXPECT_EQ(readouts[i]->y(), top) << "readout " << i;
            EXPECT_EQ(readouts[i]->w(), 508);
            EXPECT_EQ(readouts[i]->h(), c.height) << "readout " << i;
            top += c.height;
        }
        EXPECT_EQ(mw->shownDisplayCount, shown);
    }
    for (int i = 0; i < 3; ++i) mw->showChannel[i] = true;
    mw->showVectorSum = false;
    mw->showMeasurementDisplays();
}

TEST(MainWindowLayout, DisplayTogglesKeepTheLastReadout) {
    Menu* channels = mw->displayChannelsMenu;
    mw->showChannel[0] = true;
    mw->showChannel[1] = mw->showChannel[2] = mw->showVectorSum = false;
    mw->showMeasurementDisplays();
    mw->toggleDisplay(0);
    EXPECT_TRUE(mw->showChannel[0]) << "the only readout stays";
    EXPECT_EQ(mw->shownDisplayCount, 1);

    mw->toggleVectorSumDisplay();
    EXPECT_EQ(mw->shownDisplayCount, 2);
    EXPECT_EQ(mw->vectorSumDisplay->y(), 240);
    EXPECT_EQ(channels->getItemStyle(0), 1);
    EXPECT_EQ(channels->getItemStyle(1), 0);
    EXPECT_EQ(channels->getItemStyle(3), 1);

    channels->getItem(0)->activate();   // "Channel 1"
    EXPECT_FALSE(mw->showChannel[0]);
    EXPECT_EQ(mw->vectorSumDisplay->y(), 0);
    EXPECT_EQ(mw->vectorSumDisplay->h(), 480);
    mw->toggleVectorSumDisplay();
    EXPECT_TRUE(mw->showVectorSum) << "the only readout stays";

    for (int i = 0; i < 3; ++i) mw->showChannel[i] = true;
    mw->showVectorSum = false;
    mw->showMeasurementDisplays();
}

// The value-entry links, activated as their soft keys do: each opens the
// value-entry menu of its channel, titled for what it edits.
TEST(MainWindowActions, ValueEntryTitlesTheChannelsEntryMenu) {
    auto entryOf = [](Menu* menu, const char* name) -> MenuElement* {
        for (int i = 0; menu && i < menu->getItemCount(); ++i)
            if (std::string(menu->getItem(i)->name()) == name) return menu->getItem(i);
        return nullptr;
    };
    struct Case {
        MenuElement* entry;
        int slot;
        int editMode;
        const char* title;
    };
    const Case cases[] = {
        {entryOf(mw->relativeMenus[1], "Manual"), 2, 1, "Channel 2\nManual\nRelative"},
        {entryOf(mw->zeroMenus[2], "Manual"), 3, 2, "Channel 3\nManual\nZero"},
        {entryOf(mw->classifierMenus[0], "Set Lower\nThreshold"), 1, 3, "Channel 1\nLower\nClassifier"},
        {entryOf(mw->classifierMenus[1], "Set Upper\nThreshold"), 2, 4, "Channel 2\nUpper\nClassifier"},
        {entryOf(mw->vectorSumRelativeMenu, "Manual"), 1, 5, "Manual\nRelative"},
        {mw->triggerLevelEntries[2], 3, 6, "Trigger\nLevel"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.entry, nullptr) << c.title;
        Menu* menu = mw->valueEntryMenus[c.slot - 1];
        c.entry->activate();
        EXPECT_EQ(mw->currentMenu, menu) << c.title;
        EXPECT_EQ(mw->editMode, c.editMode);
        EXPECT_STREQ(menu->getTitle(), c.title);
    }
    mw->gotoMenu(mw->mainMenu);
}
TEST(MainWindowActions, BacklightTestShowsItsMessageAndRunsOnAThreadTheWindowJoins) {
    mw->startButtonTest();
    EXPECT_TRUE(mw->messageShown);
    EXPECT_EQ(std::string(mw->messagePopup->message()).find("Testing Buttons"), 0u);
    EXPECT_EQ(mw->backlightTest.threadCount(), 1u);
    // What the window's destructor does: the run is cut short and joined.
    mw->backlightTest.stop();
    EXPECT_EQ(mw->backlightTest.threadCount(), 0u);
    mw->keyInterface->signalKeyPressed().emit(32);
    EXPECT_FALSE(mw->messageShown);
}

TEST(MainWindowActions, DataLoggingEntriesFollowTheLogAndReportFailures) {
    MeterModel& m = *mw->meterModel;
    ASSERT_TRUE(pump([&] {
        for (unsigned slot = 1; slot <= 3; ++slot)
            if (m.getChannel(slot)->getChannelStatus() != 2) return false;
        return true;
    }, 60s)) << "mendra's probes become ready";
    auto message = [] { return std::string(mw->messagePopup->message()); };
    auto dismiss = [] { mw->keyInterface->signalKeyPressed().emit(32); };

    // The sandbox has no USB drive.
    mw->toggleUsbLogging();
    EXPECT_EQ(message().find("Please insert USB drive\nand try again."), 0u);
    EXPECT_STREQ(mw->usbLoggingEntry->name(), "Start Data\nLogging");
    dismiss();

    mw->toggleInternalLogging();
    EXPECT_STREQ(mw->internalLoggingEntry->name(), "Stop Data\nLogging");
    EXPECT_FALSE(mw->messageShown);
    mw->toggleUsbLogging();   // the internal log runs: nothing
    EXPECT_FALSE(mw->messageShown);
    mw->toggleInternalLogging();
    EXPECT_STREQ(mw->internalLoggingEntry->name(), "Start Data\nLogging");
    const std::string text = message();
    EXPECT_EQ(text.find("Log saved to data"), 0u) << text;
    EXPECT_NE(text.find(".csv\non internal drive.\nTo view, download via web interface."), std::string::npos)
        << text;
    EXPECT_EQ(text.find('/'), std::string::npos) << "the file's name only";
    dismiss();
    EXPECT_FALSE(mw->messageShown);
}

// A row that cannot be written stops the log: the pop-up says so, the entry
// offers a new start, and the SCPI error queue tells what and why.
TEST(MainWindowActions, ADataLogThatCannotBeWrittenStopsWithAMessage) {
    MeterModel& m = *mw->meterModel;
    ASSERT_TRUE(pump([&] { return m.getChannel(1)->getChannelStatus() == 2; }, 60s)) << "mendra's probes become ready";
    FileIoManager* files = FileIoManager::instance();
    mw->toggleInternalLogging();
    ASSERT_EQ(files->getLoggingState(), FileIoManager::kLoggingInternally);
    ASSERT_TRUE(pump([&] { return files->getRowCount() >= 1; }, 30s));
    {
        // The disk is full from here on: the next row has no room.
        testsupport::FailingWrites full(testsupport::FailingWrites::FileSizeLimit, 0);
        EXPECT_TRUE(pump([&] { return mw->messageShown.load(); }, 30s));
    }
    EXPECT_EQ(files->getLoggingState(), FileIoManager::kOff);
    EXPECT_EQ(std::string(mw->messagePopup->message()).find("Data logging stopped.\nUnable to save file to\ninternal drive.\n"),
              0u);
    EXPECT_STREQ(mw->internalLoggingEntry->name(), "Start Data\nLogging");
    bool reported = false;
    for (const TvlError& e : ScpiErrorQueue::instance()->getErrors())
        reported = reported || (e.getCode() == -250 && e.getDetail().find("data log data") == 0 &&
                                e.getDetail().find(".csv stopped: File too large") != std::string::npos);
    EXPECT_TRUE(reported);
    mw->keyInterface->signalKeyPressed().emit(32);
    EXPECT_FALSE(mw->messageShown);
}

TEST(MainWindowActions, BrightnessStaysWithinOneToEight) {
    struct Case {
        void (MainWindow::*action)();
        bool display;
        int from, to;
    };
    const Case cases[] = {{&MainWindow::buttonsDimmer, false, 1, 1},   {&MainWindow::buttonsDimmer, false, 5, 4},
                          {&MainWindow::buttonsBrighter, false, 8, 8}, {&MainWindow::buttonsBrighter, false, 7, 8},
                          {&MainWindow::displayDimmer, true, 2, 1},    {&MainWindow::displayBrighter, true, 8, 8}};
    MeterModel& m = *mw->meterModel;
    for (const Case& c : cases) {
        c.display ? m.setLcdLevel(c.from) : m.setButtonLevel(c.from);
        (mw->*c.action)();
        EXPECT_EQ(c.display ? m.getLcdLevel() : m.getButtonLevel(), c.to) << c.from;
    }
}

TEST(MainWindowPrompts, ScreenCaptureWithoutAUsbDriveSaysSo) {
    mw->promptScreenCapture();
    EXPECT_TRUE(mw->messageShown);
    EXPECT_NE(std::string(mw->messagePopup->message()).find("Please insert USB drive\nand try again."),
              std::string::npos);
    EXPECT_TRUE(mw->buttonHandler->isArmed()) << "the pop-up waits";
    mw->keyInterface->signalKeyPressed().emit(32);
    EXPECT_FALSE(mw->messageShown);
    EXPECT_FALSE(mw->buttonHandler->isArmed());
}

}  // namespace
