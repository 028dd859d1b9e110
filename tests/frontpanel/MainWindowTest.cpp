// The main window over a real meter model and mendra on a private bus: the
// start-up step, the model-signal handlers (which hand their menu work to
// the GUI thread), the front-panel keys, the pop-up and its Enter press.
//
// One window serves the whole program (the meter model is a singleton).
// The test's thread is the GUI thread: it holds the toolkit lock, except
// while pump() lets the other threads (timers, the key link) take it.
#include "WidgetTestSupport.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "frontpanel/ButtonHandler.h"
#include "frontpanel/ButtonView.h"
#include "frontpanel/GuiThread.h"
#include "frontpanel/MainWindow.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MessagePopup.h"
#include "frontpanel/SoftButton.h"
#include "meter/MeterModel.h"
#include "support/TestSupport.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

testsupport::TempSandbox* sandbox = nullptr;
testsupport::ChildProcess* mendra = nullptr;
Fl_Double_Window* window = nullptr;
MainWindow* mw = nullptr;

class WindowEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        testgui::ensureGuiThread();
        sandbox = new testsupport::TempSandbox();
        std::ofstream(sandbox->path() + "/ports.conf") << "scpi: 0\njson: 0\n";   // servers on free ports
        const std::string bus = testsupport::uniqueBusName("v");
        mendra = new testsupport::ChildProcess();
        ASSERT_TRUE(mendra->start(testsupport::binPath("mendra"), {"-sandbox", sandbox->path(), "-can", bus}));
        window = new Fl_Double_Window(640, 480);
        window->end();
        mw = new MainWindow(0, 0, 640, 480, bus.c_str(), true);
        window->add(mw);
    }
    void TearDown() override {
        mendra->stop();
        delete mendra;
        // The window and the model live until the process ends, as in the
        // program; the sandbox folder goes.
        delete sandbox;
    }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new WindowEnvironment);

// Lets the other threads take the toolkit lock and runs the GUI thread's
// queue until pred holds.
bool pump(const std::function<bool()>& pred, std::chrono::milliseconds deadline = 20s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        gui::runPending();
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        Fl::unlock();
        std::this_thread::sleep_for(5ms);
        Fl::lock();
    }
}

int occurrences(Menu* menu, MenuElement* element) {
    int n = 0;
    for (int i = 0; i < menu->getItemCount(); ++i) n += menu->getItem(i) == element;
    return n;
}

// Menus the tests need, made here when the tree has none of them yet.
template <typename M>
M* ensure(M*& member, const char* title) {
    if (!member) member = new M(title);
    return member;
}

TEST(MainWindowStartup, ThreeCardsGiveTheThreeChannelModel) {
    EXPECT_TRUE(mw->meterModel->isThreeChannelModel());
    ASSERT_NE(mw->keyInterface, nullptr);
    ASSERT_NE(mw->buttonHandler, nullptr);
    ASSERT_NE(mw->buttonView, nullptr);
    EXPECT_EQ(gMainWindow, mw);
    const int tops[6] = {0, 62, 124, 188, 250, 312};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(mw->softButtons[k]->x(), 508);
        EXPECT_EQ(mw->softButtons[k]->y(), tops[k]);
        EXPECT_EQ(mw->softButtons[k]->w(), 132);
        EXPECT_EQ(mw->softButtons[k]->h(), 60);
    }
}

TEST(MainWindowHandlers, PowerOnOptionsEntryIsAddedOnce) {
    Menu* more = ensure(mw->systemMoreMenu, "System");
    MenuElement* entry = ensure(mw->powerOnEntry, "Power On\nOptions");
    RadioButtonMenu* options = ensure(mw->powerOnMenu, "Power On\nOptions");
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
        Menu* menu = ensure(mw->channelMenus[i], "Channel");
        if (!mw->acFreqEntries[i]) mw->acFreqEntries[i] = new MenuElement("AC Freq\nSetup");
        menu->removeItem(mw->acFreqEntries[i]);
        while (menu->getItemCount() < 4) menu->addItem(new MenuElement("item"));
        menu->removeItemAt(3);
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
    Menu* more = ensure(mw->systemMoreMenu, "System");
    MenuElement* engineering = ensure(mw->engineeringElement, "Engineering");
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
    EXPECT_EQ(mw->buttonHandler->armedCount(), 0);
    mw->currentMenu = saved;
}

}  // namespace
