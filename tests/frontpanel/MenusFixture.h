// The menu tests' instrument: the program's main window (one per test
// process: the meter model is a singleton) on a private bus, in a sandbox of
// its own, with three scripted channel cards whose probes are ready.  The
// tests run on the GUI thread and activate menu entries there, as the key
// link's reader does.
#pragma once

#include "../channel/ScriptedCard.h"

#include "channel/ChannelModel.h"
#include "frontpanel/MainWindow.h"
#include "meter/MeterModel.h"
#include "support/RunWide.h"
#include "support/TestSupport.h"

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class Fl_Double_Window;
class Menu;
class MenuElement;

namespace menustest {

class Instrument {
public:
    // The instrument of this test process, started on first use and taken
    // down after the last test.
    static Instrument& get();
    ~Instrument();

    MainWindow& window() { return *mainWindow; }
    MeterModel& meter() { return *mainWindow->meterModel; }
    ChannelModel& channel(unsigned slot) { return *meter().getChannel(slot); }
    ClassifierController& classifier(unsigned slot) { return channel(slot).getClassifierController(); }
    channeltest::ScriptedCard& card(unsigned slot) { return *cards.at(slot - 1); }
    std::string file(const std::string& instrumentPath) const { return sandbox.file(instrumentPath); }

    // Returns once each channel's link has handled every card reply sent
    // before (a mode reply switches the classifier off, for one): a range
    // reply of the present range goes through behind them.
    void drainChannelLinks();

private:
    friend class testsupport::RunWide<Instrument>;   // makes the one of the run
    Instrument();
    void readyProbes();
    testsupport::TempSandbox sandbox;
    std::string bus;
    std::vector<std::unique_ptr<channeltest::ScriptedCard>> cards;
    Fl_Double_Window* screen = nullptr;
    MainWindow* mainWindow = nullptr;
    std::atomic<int> rangeReports[3] = {{0}, {0}, {0}};
};

// The card slots whose cards answer the greeting, defined once per test
// program: all three make the three-channel model, slot 2 alone the
// single-channel model.
std::vector<unsigned> answeringSlots();

// The menu reached from `from` through the links named, in order (links are
// followed by their data, so no action runs); null when a name is missing.
Menu* follow(Menu* from, std::initializer_list<const char*> names);
// The entry named `name` of the menu, or null.
MenuElement* entryNamed(Menu* menu, const std::string& name);
// Index of the entry named `name`, -1 when absent.
int indexOf(Menu* menu, const std::string& name);
// Activates the entry named `name` as its soft key does; false when absent.
bool press(Menu* menu, const std::string& name);
// The names of the menu's entries, in soft-key order.
std::vector<std::string> names(Menu* menu);

}  // namespace menustest
