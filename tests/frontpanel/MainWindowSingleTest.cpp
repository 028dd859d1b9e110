// The main window when no card answers: the single-channel model, whose
// card would sit in slot 2.  The channel-2 menus serve the one channel with
// titles that name none, and its full-height readout fills the screen.
#include "MainWindowFixture.h"

#include "frontpanel/MainWindow.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "meter/MeterModel.h"
#include "pages/NumericDisplay.h"
#include "pages/SystemInfoDisplay.h"
#include "runtime/FileIoManager.h"
#include "runtime/Logger.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace mwtest;

bool mwtest::withCards() { return false; }

namespace {

TEST(MainWindowSingleChannel, ChannelTwoMenusServeTheOneChannel) {
    ASSERT_FALSE(mw->meterModel->isThreeChannelModel());
    const struct {
        Menu* menu;
        const char* title;
    } titles[] = {
        {mw->channelMenus[1], "Channel\nSettings"}, {mw->modeMenus[1], "Mode"},
        {mw->rangeMenus[1], "Range"},               {mw->holdMenus[1], "Hold"},
        {mw->acFreqMenus[1], "AC Freq\nSetup"},     {mw->relativeMenus[1], "Relative"},
        {mw->zeroMenus[1], "Zero"},                 {mw->classifierMenus[1], "Classifiers"},
        {mw->scaleMenus[1], "Scale"},               {mw->singleChannelAnalogMenus[0], "Analog\nOutput"},
        {mw->singleChannelAnalogMenus[2], "Corrected\nFull Scale"},
        {mw->singleChannelAnalogMenus[6], "Uncorr\nFull Scale"},
    };
    for (const auto& t : titles) {
        ASSERT_NE(t.menu, nullptr) << t.title;
        EXPECT_STREQ(t.menu->getTitle(), t.title);
    }
    // The first entry of Main leads to the channel's menu.
    MenuElement* first = mw->mainMenu->getItem(0);
    EXPECT_STREQ(first->name(), "Channel\nSettings");
    EXPECT_EQ(first->getData(), mw->channelMenus[1]);
    EXPECT_STREQ(mw->externalOutputsMenu->getItem(0)->name(), "Analog\nOutput");
    EXPECT_EQ(mw->externalOutputsMenu->getItem(1)->getData(), mw->singleChannelAnalogMenus[7]);
    EXPECT_FALSE(mw->displayMenu->hasItem(mw->displayChannelsEntry));
    EXPECT_EQ(mw->waveformMenu->getItem(5), mw->acFreqEntries[1]);
    EXPECT_NE(dynamic_cast<SystemInfo4710Display*>(mw->systemInfoDisplay), nullptr);
}

// No card, no probe: the internal log does not start, and says why only in
// the log (the pop-up stays away, the entry keeps its name).
TEST(MainWindowSingleChannel, InternalLogThatCannotStartIsLoggedWithItsReason) {
    std::ostringstream log;
    Logger::instance()->setOutput(&log);
    mw->toggleInternalLogging();
    Logger::instance()->setOutput(nullptr);
    EXPECT_EQ(FileIoManager::instance()->getLoggingState(), FileIoManager::kOff);
    EXPECT_FALSE(mw->messageShown);
    EXPECT_STREQ(mw->internalLoggingEntry->name(), "Start Data\nLogging");
    EXPECT_NE(log.str().find("Internal data logging not started: No probe connected"), std::string::npos)
        << log.str();
}

TEST(MainWindowSingleChannel, FullHeightReadoutOfSlotTwo) {
    EXPECT_EQ(mw->singleNumericDisplay->parent(), mw);
    EXPECT_TRUE(mw->singleNumericDisplay->visible());
    EXPECT_EQ(mw->singleNumericDisplay->h(), 480);
    EXPECT_EQ(mw->singleNumericDisplay->getChannel(), 2);
    for (int i = 0; i < 3; ++i) EXPECT_NE(mw->numericDisplays[i]->parent(), mw);
}

TEST(MainWindowSingleChannel, ValueEntryTitlesNameNoChannel) {
    mw->startValueEntry(2, MainWindow::kEditUpperClassifier);
    EXPECT_STREQ(mw->valueEntryMenus[1]->getTitle(), "Upper\nClassifier");
    mw->startValueEntry(2, MainWindow::kEditRelativeOffset);
    EXPECT_STREQ(mw->valueEntryMenus[1]->getTitle(), "Manual\nRelative");
    mw->startValueEntry(3, MainWindow::kEditManualZero);
    EXPECT_STREQ(mw->valueEntryMenus[2]->getTitle(), "Channel 3\nManual\nZero");
}

}  // namespace
