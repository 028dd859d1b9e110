// MainWindow: the start-up step, the screen layout and the model-signal
// handlers that keep the menus in step with the models.
//
// Threads (the program's one scheme: runtime/Signal.h, widgets/GuiThread.h):
// the handlers below run on the thread that emits (a channel's CAN reader,
// a timer, a server or the key link's reader).  They call the models there,
// and hand all their menu and screen work to the GUI thread with gui::post,
// which runs it in emission order with the toolkit lock held: so the menus
// change on one thread only, however many readers report at once, and no
// handler ever waits for the toolkit lock while its signal's lock is held.
// The connections are made here, once, and never undone.
#include "frontpanel/MainWindow.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "frontpanel/ButtonHandler.h"
#include "frontpanel/ButtonView.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuTree.h"
#include "json/JsonServer.h"
#include "meter/MeterModel.h"
#include "pages/DiagDisplay.h"
#include "pages/NumericDisplay.h"
#include "pages/SystemInfoDisplay.h"
#include "pages/VectorSumDisplay.h"
#include "runtime/ErrorList.h"
#include "runtime/Logger.h"
#include "platform/Platform.h"
#include "scpi/ScpiServerGPIB.h"
#include "scpi/ScpiServerSerial.h"
#include "scpi/ScpiServerTcp.h"
#include "status/ScpiErrorQueue.h"
#include "widgets/GuiThread.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

using menutree::MenuId;

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void mark(Menu* menu, int item, bool on) {
    if (menu) menu->setItemStyle(item, on ? 1 : 0);
}

void retitle(Menu* menu, const char* title) {
    if (menu) menu->setTitle(title);
}

// The menu of channel c (1-3) in a per-channel array; null otherwise.
template <typename M>
M* of(M* const (&menus)[3], int c) {
    return c >= 1 && c <= 3 ? menus[c - 1] : nullptr;
}

bool validChannel(int c) { return c >= 1 && c <= 3; }

}  // namespace

// ---- Start-up step ----------------------------------------------------------

void MainWindow::startKeyInterface() {
    keyInterface = new CANinterface(canInterfaceName);
    keyInterface->setFilter(0x020, 0x7E0);
    keyConnection = keyInterface->signalKeyPressed().connect(
        sigc::mem_fun(*this, &MainWindow::onFrontPanelKey));
    // The Enter handler listens on the same link; both are connected before
    // the reader starts, since the key signal is a plain one raised on that
    // reader only.
    buttonHandler = new ButtonHandler(keyInterface, 32);
    keyInterface->startReader();
}

void MainWindow::initializeMeter() {
    meterModel->startBackplane();
    startKeyInterface();
    buttonView = new ButtonView(keyInterface, buttonHandler, meterModel);
    sleepMs(2000);

    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* ch = meterModel->getChannel(slot);
        ch->signalModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onModeChanged));
        ch->signalRangeChanged().connect(sigc::mem_fun(*this, &MainWindow::onRangeChanged));
        ch->signalChannelStatusChanged().connect(sigc::mem_fun(*this, &MainWindow::onChannelStatusChanged));
        ch->signalHoldsChanged().connect(sigc::mem_fun(*this, &MainWindow::onHoldsChanged));
        ch->signalFluxUnitsChanged().connect(sigc::mem_fun(*this, &MainWindow::onFluxUnitsChanged));
        ch->signalTemperatureUnitsChanged().connect(sigc::mem_fun(*this, &MainWindow::onTemperatureUnitsChanged));
        ch->signalTimeUnitsChanged().connect(sigc::mem_fun(*this, &MainWindow::onTimeUnitsChanged));
        ch->signalCdacModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onCdacModeChanged));
        ch->signalCdacScalingChanged().connect(sigc::mem_fun(*this, &MainWindow::onCdacScalingChanged));
        ch->signalUdacModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onUdacModeChanged));
        ch->signalUdacScalingChanged().connect(sigc::mem_fun(*this, &MainWindow::onUdacScalingChanged));
        ch->signalRelativeStateChanged().connect(sigc::mem_fun(*this, &MainWindow::onRelativeStateChanged));
        ch->signalDiagModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onDiagModeChanged));
        ch->signalWaveformScaleChanged().connect(sigc::mem_fun(*this, &MainWindow::onWaveformScaleChanged));
        ch->getClassifierController().signalChanged().connect(
            sigc::mem_fun(*this, &MainWindow::onClassifierChanged));
        ch->signalZeroModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onZeroModeChanged));
        sleepMs(20);
    }

    // This thread may run front-panel code under the toolkit lock: it holds
    // no other lock here (the bootloader's finished signal is a plain one,
    // whose emission takes none).
    {
        gui::Lock lock;
        if (meterModel->isThreeChannelModel())
            setupThreeChannelScreen();
        else
            setupSingleChannelScreen();
        // The channels may have changed before their handlers were connected.
        markAllFromModels();
        showMenu();
    }
    // The step runs once per bootloader run; this thread is the one emitting.
    bootloadConnection.disconnect();

    MeterModel& m = *meterModel;
    m.signalVectorSumHoldsChanged().connect(sigc::mem_fun(*this, &MainWindow::onVectorSumHoldsChanged));
    m.signalVectorSumOutputModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onVectorSumOutputModeChanged));
    m.signalVectorSumOutputScalingChanged().connect(
        sigc::mem_fun(*this, &MainWindow::onVectorSumOutputScalingChanged));
    m.signalDisplayRateChanged().connect(sigc::mem_fun(*this, &MainWindow::onDisplayRateChanged));
    m.signalAngleUnitsChanged().connect(sigc::mem_fun(*this, &MainWindow::onAngleUnitsChanged));
    m.signalVectorSumRelativeChanged().connect(sigc::mem_fun(*this, &MainWindow::onVectorSumRelativeChanged));
    m.signalTimebaseChanged().connect(sigc::mem_fun(*this, &MainWindow::onTimebaseChanged));
    m.signalTriggerChannelChanged().connect(sigc::mem_fun(*this, &MainWindow::onTriggerChannelChanged));
    m.signalTriggerModeChanged().connect(sigc::mem_fun(*this, &MainWindow::onTriggerModeChanged));
    m.signalTriggerSlopeChanged().connect(sigc::mem_fun(*this, &MainWindow::onTriggerSlopeChanged));
    m.signalBusyChanged().connect(sigc::mem_fun(*this, &MainWindow::onBusyChanged));
    m.signalDefaultsRestored().connect(sigc::mem_fun(*this, &MainWindow::onDefaultsRestored));
    m.signalPowerOnModeReceived().connect(sigc::mem_fun(*this, &MainWindow::onPowerOnModeReceived));
    m.signalDataLogFailed().connect(sigc::mem_fun(*this, &MainWindow::onDataLogFailed));

    m.loadSettings();
    m.sendHostReady();
    ScpiErrorQueue::instance()->push(ErrorList::instance()->lookup(-500));

    // The SCPI servers (TCP, RS-232, GPIB) and the JSON server start here;
    // their ports and address (loopback in the PC build): platform/Network.h.
    // startedObjects keeps each one, started or not, until the window goes.
    const sigc::slot<void, bool> remoteState = sigc::mem_fun(*this, &MainWindow::onRemoteState);
    ScpiServer::openAndStart(startedObjects.keep(std::make_unique<ScpiServerTcp>()), remoteState);
    ScpiServer::openAndStart(
        startedObjects.keep(std::make_unique<ScpiServerSerial>(platform::resolve(platform::path::kSerialPort))),
        remoteState);
    ScpiServer::openAndStart(startedObjects.keep(std::make_unique<ScpiServerGPIB>()), remoteState);
    startedObjects.keep(std::make_unique<JsonServer>())->start();

    {
        gui::Lock lock;
        updateDisplayCheckMarks();
        redraw();
    }
    syncCards();
    Logger::instance()->log(1, "MainWindow", "Meter Initialization Complete");
}

// Each card sends all it has and, at its card-ready, gets the channel's
// settings; one card after the other.
void MainWindow::syncCards() {
    for (unsigned slot = 1; slot <= 3; ++slot) {
        meterModel->getChannel(slot)->requestAllData();
        sleepMs(200);
    }
}

void MainWindow::setupThreeChannelScreen() { showMeasurementDisplays(); }

void MainWindow::setupSingleChannelScreen() {
    // The card sits in slot 2: the channel-2 menus serve the single channel.
    retitle(channelMenus[1], "Channel\nSettings");
    retitle(modeMenus[1], "Mode");
    retitle(rangeMenus[1], "Range");
    retitle(holdMenus[1], "Hold");
    retitle(acFreqMenus[1], "AC Freq\nSetup");
    retitle(relativeMenus[1], "Relative");
    retitle(zeroMenus[1], "Zero");
    retitle(classifierMenus[1], "Classifiers");
    if (mainMenu) mainMenu->setItem(0, makeSubmenuLink("Channel\nSettings", channelMenus[1]));

    // singleChannelAnalogMenus: analog, corrected scaling, corrected full
    // scale, corrected mode, uncorrected scaling, uncorrected mode,
    // uncorrected full scale, classifiers.
    Menu* const* analog = singleChannelAnalogMenus;
    const char* const titles[8] = {"Analog\nOutput", "Scaling", "Corrected\nFull Scale", "Output\nMode",
                                   "Scaling",        "Output\nMode", "Uncorr\nFull Scale", "Classifiers"};
    for (int i = 0; i < 8; ++i) retitle(analog[i], titles[i]);
    if (externalOutputsMenu) {
        externalOutputsMenu->setItem(0, makeSubmenuLink("Analog\nOutput", analog[0]));
        externalOutputsMenu->setItem(1, makeSubmenuLink("Classifiers", analog[7]));
    }

    if (displayMenu) displayMenu->removeItem(displayChannelsEntry);
    if (triggerSetupMenu) triggerSetupMenu->removeItemAt(3);

    retitle(scaleMenus[1], "Scale");
    if (waveformMenu) {
        waveformMenu->setItem(1, makeSubmenuLink("Scale", scaleMenus[1]));
        waveformMenu->setItem(5, acFreqEntries[1]);
    }

    if (systemInfoDisplay) delete systemInfoDisplay;
    systemInfoDisplay = new SystemInfo4710Display(x() + 5, y() + 5, panelWidth - 10, h() - 10);
    add(systemInfoDisplay);
    remove(systemInfoDisplay);

    showMeasurementDisplays();
    redraw();
}

void MainWindow::showMeasurementDisplays() {
    hideAllPanels();
    auto place = [this](Fl_Widget* readout, int top, int height, bool resizeIt) {
        if (!readout) return;
        if (resizeIt) readout->resize(x(), top, panelWidth, height);
        add(readout);
        readout->show();
    };
    if (meterModel->isThreeChannelModel()) {
        shownDisplayCount = showChannel[0] + showChannel[1] + showChannel[2] + showVectorSum;
        if (shownDisplayCount > 0) {
            const int height = 480 / shownDisplayCount;
            int top = y();
            for (unsigned slot = 1; slot <= 3; ++slot) {
                if (!showChannel[slot - 1]) continue;
                const bool diag = meterModel->getChannel(slot)->getDiagMode() > 0;
                Fl_Widget* readout = diag ? static_cast<Fl_Widget*>(diagDisplays[slot - 1])
                                          : numericDisplays[slot - 1];
                place(readout, top, height, true);
                top += height;
            }
            if (showVectorSum) place(vectorSumDisplay, top, height, true);
        }
    } else {
        const bool diag = meterModel->getChannel(2)->getDiagMode() > 0;
        place(diag ? static_cast<Fl_Widget*>(singleDiagDisplay) : singleNumericDisplay, y(), h(), false);
    }
    redraw();
}

void MainWindow::updateDisplayCheckMarks() {
    for (int i = 0; i < 3; ++i) mark(displayChannelsMenu, i, showChannel[i]);
    mark(displayChannelsMenu, 3, showVectorSum);
    mark(vectorSumMenu, 0, showVectorSum);
    showMenu();
}

void MainWindow::refreshRangeMenu(int c) {
    RadioButtonMenu* menu = of(rangeMenus, c);
    if (!menu) return;
    ChannelModel* ch = meterModel->getChannel(static_cast<unsigned>(c));
    for (int i = 0; i < 4; ++i) {
        MenuElement* item = menu->getItem(i);
        if (!item) continue;
        const std::string name = ch->getRangeName(i);
        item->setName(name.c_str());
        item->setEnabled(name != "N/A");
    }
    showMenu();
}

void MainWindow::refreshTriggerChannelMenu() {
    if (!triggerChannelMenu) return;
    gui::Lock lock;   // one change: emptied and filled again
    triggerChannelMenu->removeAllItems();
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ChannelModel* ch = meterModel->getChannel(slot);
        if (ch->getChannelStatus() != 2 || ch->getMode() != 1) continue;
        triggerChannelMenu->addItem(triggerChannelEntries[slot - 1]);
    }
    markFromModel(MenuId::TriggerChannel);
    showMenu();
}

void MainWindow::restoreAcFreqEntries() {
    if (meterModel->isThreeChannelModel()) {
        for (int i = 0; i < 3; ++i) {
            if (!channelMenus[i] || channelMenus[i]->hasItem(acFreqEntries[i])) continue;
            channelMenus[i]->insertItem(3, acFreqEntries[i]);
            showMenu();
        }
    }
    meterModel->leaveWaveformMode();
}

void MainWindow::showMeasurementScreen() {
    restoreAcFreqEntries();
    gui::Lock lock;
    showMeasurementDisplays();
}

// ---- Channel handlers -------------------------------------------------------

void MainWindow::onModeChanged(int c, int, int) {
    if (!validChannel(c)) return;
    meterModel->getChannel(static_cast<unsigned>(c))->clearManualZero();
    gui::post([this, c] {
        markFromModel(MenuId::ChannelMode, c);
        markFromModel(MenuId::AllMode);
        markFromModel(MenuId::ChannelAcFreq, c);
        markFromModel(MenuId::AllAcFreq);
        for (int i = 0; i < 6 && timeBaseMenu; ++i)
            if (MenuElement* e = timeBaseMenu->getItem(i)) e->setName(meterModel->getTimebaseLabel(i).c_str());
        refreshTriggerChannelMenu();
        showMenu();
    });
}

void MainWindow::onRangeChanged(int c, int) {
    if (!validChannel(c)) return;
    meterModel->getChannel(static_cast<unsigned>(c))->clearManualZero();
    gui::post([this, c] {
        markFromModel(MenuId::ChannelRange, c);
        markFromModel(MenuId::AllRange);
        updateWaveformScaleItems(c);
        showMenu();
    });
}

void MainWindow::onChannelStatusChanged(int c, int status) {
    if (!validChannel(c)) return;
    gui::post([this, c, status] {
        Menu* channelMenu = of(channelMenus, c);
        MenuElement* acFreq = acFreqEntries[c - 1];
        if (status == 0 && channelMenu && !channelMenu->hasItem(acFreq)) {
            channelMenu->insertItem(3, acFreq);
            showMenu();
        } else if (status == 2) {
            refreshRangeMenu(c);
            if (meterModel->getChannel(static_cast<unsigned>(c))->getProbeClass() == 0 && channelMenu) {
                channelMenu->removeItem(acFreq);
                Menu* acFreqMenu = of(acFreqMenus, c);
                if (acFreqMenu && currentMenu == acFreqMenu) currentMenu = acFreqMenu->getParent();
            }
            showMenu();
        }
        refreshTriggerChannelMenu();
    });
}

void MainWindow::onHoldsChanged(int c, bool active, bool min, bool max, bool peak, bool valley) {
    if (!validChannel(c)) return;
    gui::post([=] {
        Menu* menu = of(holdMenus, c);
        mark(menu, 0, max);
        mark(menu, 1, min);
        mark(menu, 2, peak);
        mark(menu, 3, valley);
        mark(menu, 4, active);
        updateAllChannelsHoldMarks();
        showMenu();
    });
}

void MainWindow::onFluxUnitsChanged(int c, int) {
    if (!validChannel(c)) return;
    gui::post([this, c] {
        markFromModel(MenuId::FluxUnits, c);
        refreshRangeMenu(c);
        updateWaveformScaleItems(c);
    });
}

void MainWindow::onTemperatureUnitsChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::TemperatureUnits, c);
}

void MainWindow::onTimeUnitsChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::TimeUnits, c);
}

void MainWindow::onCdacModeChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::CorrectedMode, c);
}

void MainWindow::onCdacScalingChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::CorrectedScaling, c);
}

void MainWindow::onUdacModeChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::UncorrectedMode, c);
}

void MainWindow::onUdacScalingChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::UncorrectedScaling, c);
}

void MainWindow::onRelativeStateChanged(int c, int state) {
    if (!validChannel(c)) return;
    gui::post([this, c, state] {
        markFromModel(MenuId::ChannelRelative, c);
        markFromModel(MenuId::AllRelative);
        if (state == 2 || state == 3) {
            showMenu();
            return;
        }
        Menu* entry = of(valueEntryMenus, c);
        if (entry && currentMenu == entry && editMode == kEditRelativeOffset) currentMenu = entry->getParent();
        showMenu();
    });
}

void MainWindow::onDiagModeChanged(int, int) {
    gui::post([this] { showMeasurementScreen(); });
}

void MainWindow::onWaveformScaleChanged(int c, int) {
    if (validChannel(c)) markLater(MenuId::ChannelScale, c);
}

void MainWindow::onClassifierChanged(int c, int mode, int) {
    if (!validChannel(c)) return;
    gui::post([this, c, mode] {
        mark(of(classifierMenus, c), 0, mode == 1);
        auto modeOf = [this](unsigned slot) { return meterModel->getChannel(slot)->getClassifierController().getMode(); };
        const bool same = modeOf(1) == modeOf(2) && modeOf(1) == modeOf(3);
        mark(allChannelsClassifierMenu, 0, same && mode == 1);
        showMenu();
    });
}

void MainWindow::onZeroModeChanged(int c, int mode) {
    if (!validChannel(c)) return;
    gui::post([this, c, mode] {
        // Items 0-2 are marked by zero mode 1, 4 and 0; other modes leave them.
        auto marksFor = [](int m, bool out[3]) {
            if (m != 0 && m != 1 && m != 4) return false;
            out[0] = m == 1;
            out[1] = m == 4;
            out[2] = m == 0;
            return true;
        };
        bool marks[3];
        if (marksFor(mode, marks))
            for (int i = 0; i < 3; ++i) mark(of(autoZeroMenus, c), i, marks[i]);
        const int z1 = meterModel->getChannel(1)->getZeroMode();
        const bool same = z1 == meterModel->getChannel(2)->getZeroMode() &&
                          z1 == meterModel->getChannel(3)->getZeroMode();
        if (!same) {
            for (int i = 0; i < 3; ++i) mark(allChannelsZeroMenu, i, false);
        } else if (marksFor(z1, marks)) {
            for (int i = 0; i < 3; ++i) mark(allChannelsZeroMenu, i, marks[i]);
        }
        showMenu();
    });
}

// ---- Meter handlers ---------------------------------------------------------

void MainWindow::onVectorSumHoldsChanged(bool active, bool min, bool max) {
    gui::post([=] {
        mark(vectorSumHoldMenu, 2, active);
        mark(vectorSumHoldMenu, 1, min);
        mark(vectorSumHoldMenu, 0, max);
        showMenu();
    });
}

void MainWindow::onVectorSumOutputModeChanged(int) { markLater(MenuId::VectorSumOutputMode); }

void MainWindow::onVectorSumOutputScalingChanged(int) { markLater(MenuId::VectorSumScaling); }

void MainWindow::onDisplayRateChanged(float) { markLater(MenuId::UpdateRate); }

void MainWindow::onAngleUnitsChanged(int) { markLater(MenuId::AngleUnits); }

void MainWindow::onTimebaseChanged(int) { markLater(MenuId::TimeBase); }

void MainWindow::onTriggerChannelChanged(int slot) {
    gui::post([this, slot] {
        if (triggerSetupMenu && validChannel(slot)) triggerSetupMenu->setItem(2, triggerLevelEntries[slot - 1]);
        refreshTriggerChannelMenu();
    });
}

void MainWindow::onTriggerModeChanged(int) { markLater(MenuId::TriggerMode); }

void MainWindow::onTriggerSlopeChanged(int) { markLater(MenuId::TriggerSlope); }

void MainWindow::onBusyChanged(bool busy) {
    if (!busy || !meterModel->isWaveformMode()) return;
    gui::post([this] {
        showMeasurementScreen();
        gotoMenu(mainMenu);
    });
}

void MainWindow::onDefaultsRestored() {
    meterModel->setDisplayRate(1.0f);
    meterModel->setLcdLevel(5);
    meterModel->setButtonLevel(5);
    gui::post([this] {
        showChannel[0] = showChannel[1] = showChannel[2] = true;
        showVectorSum = false;
        updateDisplayCheckMarks();
        if (currentMenu != profilesMenu) showMeasurementScreen();
    });
}

void MainWindow::onPowerOnModeReceived() {
    gui::post([this] {
        // The controller may report its mode more than once: one entry.
        if (systemMoreMenu && powerOnEntry && !systemMoreMenu->hasItem(powerOnEntry))
            systemMoreMenu->addItem(powerOnEntry);
        markFromModel(MenuId::PowerOn);
        showMenu();
    });
}
