#include "MenusFixture.h"

#include "../widgets/WidgetTestSupport.h"

#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include <fstream>

namespace menustest {

namespace {
// Takes the links down after the last test; the window and the meter
// singleton live on, idle, to the exit.
auto* const theInstrument = testsupport::RunWide<Instrument>::install();
}  // namespace

Instrument& Instrument::get() { return theInstrument->get(); }

Instrument::Instrument() : bus(testsupport::uniqueBusName("mn")) {
    testgui::ensureGuiThread();
    // The servers pick free ports: several instruments run side by side.
    std::ofstream(sandbox.file("/ports.conf")) << "scpi: 0\njson: 0\n";
    for (int slot = 1; slot <= 3; ++slot) {
        cards.push_back(std::make_unique<channeltest::ScriptedCard>(bus, slot));
        cards.back()->answerHello = false;
    }
    for (unsigned slot : answeringSlots()) card(slot).answerHello = true;
    testing::internal::CaptureStdout();
    screen = new Fl_Double_Window(640, 480);
    screen->end();
    mainWindow = new MainWindow(0, 0, 640, 480, bus.c_str(), true);
    screen->add(mainWindow);
    for (unsigned slot = 1; slot <= 3; ++slot)
        channel(slot).signalRangeChanged().connect([this](int c, int) {
            if (c >= 1 && c <= 3) ++rangeReports[c - 1];
        });
    readyProbes();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(meter().isThreeChannelModel(), answeringSlots().size() == 3);
}

Instrument::~Instrument() {
    testing::internal::CaptureStdout();
    meter().stopCan();
    gui::runPending();
    testing::internal::GetCapturedStdout();
}

// Card ready (the channel settings are loaded), then a probe: status 2.
void Instrument::readyProbes() {
    for (unsigned slot = 1; slot <= 3; ++slot) {
        if (!card(slot).answerHello) continue;
        card(slot).out().sendCardReady(static_cast<int>(slot));
        card(slot).insertProbe(3);
    }
    for (unsigned slot = 1; slot <= 3; ++slot) {
        if (!card(slot).answerHello) continue;
        EXPECT_TRUE(testsupport::waitUntil([this, slot] { return channel(slot).getChannelStatus() == 2; },
                                           std::chrono::seconds(20)))
            << "channel " << slot << " not ready";
    }
}

void Instrument::drainChannelLinks() {
    for (unsigned slot : answeringSlots()) {
        const int before = rangeReports[slot - 1];
        card(slot).out().sendRangeReply(static_cast<int>(slot), channel(slot).getRange());
        EXPECT_TRUE(testsupport::waitUntil([this, slot, before] { return rangeReports[slot - 1] > before; }));
    }
}

Menu* follow(Menu* from, std::initializer_list<const char*> path) {
    Menu* menu = from;
    for (const char* name : path) {
        MenuElement* link = entryNamed(menu, name);
        if (!link || !link->getData()) return nullptr;
        menu = static_cast<Menu*>(link->getData());
    }
    return menu;
}

MenuElement* entryNamed(Menu* menu, const std::string& name) {
    const int i = indexOf(menu, name);
    return i < 0 ? nullptr : menu->getItem(i);
}

int indexOf(Menu* menu, const std::string& name) {
    if (!menu) return -1;
    for (int i = 0; i < menu->getItemCount(); ++i)
        if (menu->getItem(i) && name == menu->getItem(i)->name()) return i;
    return -1;
}

bool press(Menu* menu, const std::string& name) {
    const int i = indexOf(menu, name);
    if (i < 0) return false;
    menu->select(i);
    return true;
}

std::vector<std::string> names(Menu* menu) {
    std::vector<std::string> out;
    for (int i = 0; menu && i < menu->getItemCount(); ++i) out.push_back(menu->getItem(i)->name());
    return out;
}

}  // namespace menustest
