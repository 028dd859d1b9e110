// MainWindow: the menu on the soft buttons and moves between menus, the
// message pop-up and the prompts answered with Enter, the pages, and the
// actions of the main window (firmware update, data logging, screen
// capture, settings pages, brightness, readout selection, value entry,
// remote lock-out, backlight test).
//
// Actions run on the key link's reader thread (menu entries, Enter slots);
// the backlight test's frames go out from threads of its own (BacklightTest).
// Widgets, menus and the window's screen state change under the toolkit lock
// (gui::Lock, which is recursive); the models are called with no toolkit lock
// held.
#include "frontpanel/MainWindow.h"

#include "can/CANinterface.h"
#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "console/Console.h"
#include "frontpanel/ButtonHandler.h"
#include "frontpanel/ButtonView.h"
#include "frontpanel/EngineeringPasswordDisplay.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuFooter.h"
#include "frontpanel/MessagePopup.h"
#include "frontpanel/NumericKeypad.h"
#include "meter/MeterModel.h"
#include "pages/AnalogOutScalingDisplay.h"
#include "pages/DateTimeDisplay.h"
#include "pages/ErrorDisplay.h"
#include "pages/FirmwareUpdateDisplay.h"
#include "pages/GpibConfigDisplay.h"
#include "pages/NetworkConfigDisplay.h"
#include "pages/ProfilesDisplay.h"
#include "pages/RS232ConfigDisplay.h"
#include "pages/SystemInfoDisplay.h"
#include "pages/WaveFormDisplay.h"
#include "platform/Platform.h"
#include "runtime/FileIoManager.h"
#include "runtime/LocalExceptions.h"
#include "runtime/Logger.h"
#include "widgets/GuiThread.h"
#include "widgets/ScreenCapture.h"

#include <FL/Fl_Input.H>

#include <cstdio>
#include <exception>
#include <string>

namespace {
constexpr int kBackKey = 31;
const char* const kNoUsbDrive = "Please insert USB drive\nand try again.";
const char* const kUsbSaveFailed = "Unable to save file to\nUSB drive.";
const char* const kUsbLogFailed = "Data logging stopped.\nUnable to save file to\nUSB drive.";
const char* const kInternalLogFailed = "Data logging stopped.\nUnable to save file to\ninternal drive.";
}  // namespace

// ---- Menus on the soft buttons ----------------------------------------------

void MainWindow::showMenu() {
    int count;
    {
        gui::Lock lock;
        if (!currentMenu) return;
        currentMenu->show(softButtons, 6, menuFooter);
        count = currentMenu->getItemCount();
    }
    if (buttonView) buttonView->setSoftButtonCount(count);
}

void MainWindow::gotoMenu(Menu* menu) {
    if (!menu) return;
    gui::Lock lock;
    // A menu entered from itself keeps its parent (Back would never leave it).
    if (menu != mainMenu && menu != currentMenu) menu->setParent(currentMenu);
    currentMenu = menu;
    showMenu();
}

MenuElement* MainWindow::makeSubmenuLink(const char* name, Menu* submenu) {
    MenuElement* link = new MenuElement(name, submenu);
    link->signalData().connect([this](void* data) { gotoMenu(static_cast<Menu*>(data)); });
    return link;
}

// ---- Message pop-up and prompts ---------------------------------------------

void MainWindow::showMessage(const char* text) {
    // One pop-up: a second message before Enter replaces the text and is
    // dismissed by the same press.
    if (buttonHandler) buttonHandler->connectOnce(sigc::mem_fun(*this, &MainWindow::onMessageDismissed));
    {
        gui::Lock lock;
        messagePopup->showMessage(text);
        redraw();
    }
    messageShown = true;
    if (buttonView) buttonView->disable();
}

void MainWindow::onMessageDismissed() {
    {
        gui::Lock lock;
        messagePopup->hide();
        redraw();
    }
    messageShown = false;
    if (buttonView) buttonView->enable();
}

void MainWindow::promptUsbFirmwareUpdate() {
    {
        gui::Lock lock;
        firmwareUpdateDisplay->showMessage("Press Enter button to update\nfirmware from USB drive and reboot.");
    }
    if (buttonHandler)
        buttonHandler->armWithCancelKey(sigc::mem_fun(*this, &MainWindow::updateFirmwareFromUsb), kBackKey);
}

void MainWindow::promptInternetFirmwareUpdate() {
    {
        gui::Lock lock;
        firmwareUpdateDisplay->showMessage("Press Enter button to update\nfirmware from Internet and reboot.");
    }
    if (buttonHandler)
        buttonHandler->armWithCancelKey(sigc::mem_fun(*this, &MainWindow::updateFirmwareFromInternet), kBackKey);
}

void MainWindow::promptScaling(Form* page) {
    showScalingPanel(page);
    if (buttonHandler)
        buttonHandler->armWithCancelKey(sigc::bind(sigc::mem_fun(*this, &MainWindow::applyScaling), page), kBackKey);
}

void MainWindow::promptScreenCapture() {
    if (!FileIoManager::instance()->findUsbDrive()) {
        showMessage(kNoUsbDrive);
        return;
    }
    if (buttonHandler) buttonHandler->connectOnce(sigc::mem_fun(*this, &MainWindow::captureScreen));
}

// ---- Actions ----------------------------------------------------------------

void MainWindow::updateFirmwareFromInternet() {
    {
        gui::Lock lock;
        firmwareUpdateDisplay->showMessage("Firmware is being downloaded.\nPlease wait...");
    }
    const int status = platform::runCommand({platform::script("tvl4700-update.sh")});
    if (status != 0) console::print("system returns %d\n", status);
}

void MainWindow::updateFirmwareFromUsb() {
    {
        gui::Lock lock;
        firmwareUpdateDisplay->showMessage("Firmware is being installed.\nPlease wait...");
    }
    const int status = platform::runCommand({platform::script("tvl4700-usb-update.sh")});
    if (status != 0) console::print("system returns %d\n", status);
}

// Levels stay within 1-8.
void MainWindow::stepBrightness(bool display, int step) {
    const int level = display ? meterModel->getLcdLevel() : meterModel->getButtonLevel();
    if ((step < 0 && level < 2) || (step > 0 && level > 7)) return;
    if (display)
        meterModel->setLcdLevel(level + step);
    else
        meterModel->setButtonLevel(level + step);
}

void MainWindow::buttonsDimmer() { stepBrightness(false, -1); }
void MainWindow::buttonsBrighter() { stepBrightness(false, +1); }
void MainWindow::displayDimmer() { stepBrightness(true, -1); }
void MainWindow::displayBrighter() { stepBrightness(true, +1); }

void MainWindow::toggleDisplay(int readout) {
    {
        gui::Lock lock;
        bool& shown = readout < 3 ? showChannel[readout] : showVectorSum;
        if (shownDisplayCount == 1 && shown) return;   // the last readout stays
        shown = !shown;
        updateDisplayCheckMarks();
    }
    showMeasurementScreen();
}

void MainWindow::toggleVectorSumDisplay() { toggleDisplay(3); }

// The page hides its status box, copies itself into the configuration and
// applies it; the fields refused are named in the status box.

void MainWindow::applyRs232Settings() {
    {
        gui::Lock lock;
        rs232ConfigDisplay->applySettings();
    }
    showMeasurementScreen();
}

void MainWindow::applyGpibSettings() {
    {
        gui::Lock lock;
        gpibConfigDisplay->applySettings();
    }
    showMeasurementScreen();
}

void MainWindow::toggleNetworkAddressMode() {
    gui::Lock lock;
    networkConfigDisplay->toggleAddressMode();
    if (networkConfigDisplay->isManual())
        showNetworkAddressItems();
    else
        hideNetworkAddressItems();
    showMenu();
}

void MainWindow::applyNetworkConfig() { networkConfigDisplay->applyToSystem(); }

void MainWindow::enterWaveformView() {
    if (meterModel->isBusy()) {   // a channel is zeroing
        gui::Lock lock;
        if (currentMenu && currentMenu->getParent()) currentMenu = currentMenu->getParent();
        showMenu();
        return;
    }
    removeAcFreqEntries();
    showPage(waveFormDisplay, nullptr);
}


void MainWindow::applyScaling(Form* page) {
    {
        gui::Lock lock;
        static_cast<AnalogOutScalingDisplay*>(page)->applySettings();
    }
    Menu* menu = getCurrentMenu();
    if (!menu) return;
    menu->emitBack();
    gui::Lock lock;
    if (menu->getParent()) currentMenu = menu->getParent();
    showMenu();
}

void MainWindow::onRemoteState(bool enabled) {
    Logger::instance()->log(2, "MainWindow", enabled ? "Enable buttons" : "Disable buttons");
    if (keyInterface) keyInterface->setKeyEventsEnabled(enabled);
}

// ---- Pages ------------------------------------------------------------------

void MainWindow::showPage(Fl_Widget* page, const std::function<void()>& prepare) {
    gui::Lock lock;
    hideAllPanels();
    add(page);
    if (prepare) prepare();
    page->show();
    page->redraw();
    redraw();
}

void MainWindow::showRs232Panel() {
    showPage(rs232ConfigDisplay, [this] {
        rs232ConfigDisplay->showSettings();
        rs232ConfigDisplay->clearFocus();
    });
}

void MainWindow::showFirmwareUpdatePanel() {
    {
        gui::Lock lock;
        if (firmwareUpdateMenu) {
            firmwareUpdateMenu->removeItem(firmwareUpdateEntries[0]);
            firmwareUpdateMenu->removeItem(firmwareUpdateEntries[1]);
        }
    }
    // The status scripts run here, with no lock held: the screen stays live.
    firmwareUpdateDisplay->refresh();
    {
        gui::Lock lock;
        if (firmwareUpdateMenu) {
            if (isInternetFirmwareUpdateAvailable()) firmwareUpdateMenu->addItem(firmwareUpdateEntries[0]);
            if (isUsbFirmwareUpdateAvailable()) firmwareUpdateMenu->addItem(firmwareUpdateEntries[1]);
        }
        showMenu();
    }
    showPage(firmwareUpdateDisplay, nullptr);
}

void MainWindow::showProfilesPanel() {
    showPage(profilesDisplay, [this] {
        profilesDisplay->hideMessage();
        numericKeypad->attachInput(profilesDisplay->getInput(0));
        numericKeypad->setIntMax(10);
        showKeypad();
    });
}

void MainWindow::showErrorPanel() {
    showPage(errorDisplay, [this] { errorDisplay->refresh(); });
}

void MainWindow::showSystemInfoPanel() {
    showPage(systemInfoDisplay, [this] { systemInfoDisplay->refresh(); });
}

void MainWindow::showDateTimePanel() {
    showPage(dateTimeDisplay, [this] {
        dateTimeDisplay->hideMessage();
        dateTimeDisplay->showCurrentTime();
    });
}

void MainWindow::hideKeypad() {
    gui::Lock lock;
    remove(numericKeypad);
    numericKeypad->hide();
    numericKeypad->attachInput(nullptr);
    redraw();
}

void MainWindow::leavePasswordPanel() {
    gui::Lock lock;
    passwordDisplay->clear();
    showMeasurementDisplays();
}

void MainWindow::showPasswordPanel() {
    gui::Lock lock;
    hideAllPanels();
    passwordDisplay->showMessage("Enter the engineering password and\nthen press Enter button");
    add(passwordDisplay);
    numericKeypad->attachInput(passwordDisplay->getInput(0));
    if (buttonHandler)
        buttonHandler->armWithCancelKey(sigc::mem_fun(*this, &MainWindow::onPasswordEntered), kBackKey);
    passwordDisplay->show();
    passwordDisplay->redraw();
    redraw();
    showKeypad();
}

void MainWindow::onPasswordEntered() {
    bool correct;
    {
        gui::Lock lock;
        correct = passwordDisplay->checkPassword();
        if (!correct) {
            passwordDisplay->showMessage("Incorrect Password\nTry Again");
            return;
        }
        passwordDisplay->clear();
        showMeasurementDisplays();
    }
    gui::Lock lock;
    if (engineerMenu) engineerMenu->setParent(mainMenu);
    currentMenu = engineerMenu;
    showMenu();
}

// ---- Value entry with the channel keys --------------------------------------

void MainWindow::startValueEntry(int channel, int mode) {
    static const char* const kTitles[7] = {"", "Manual\nRelative", "Manual\nZero", "Lower\nClassifier",
                                          "Upper\nClassifier", "Manual\nRelative", "Trigger\nLevel"};
    // Offsets and classifier thresholds name their channel, except the single
    // channel's (slot 2).
    const bool named = mode >= kEditRelativeOffset && mode <= kEditUpperClassifier &&
                       (meterModel->isThreeChannelModel() || channel != 2);
    char title[Menu::kMaxTitle + 1];
    if (named)
        std::snprintf(title, sizeof title, "Channel %d\n%s", channel, kTitles[mode]);
    else
        std::snprintf(title, sizeof title, "%s", kTitles[mode]);
    editMode = mode;
    if (Menu* menu = valueEntryMenus[channel - 1]) menu->setTitle(title);
    showMenu();

    ChannelModel* model = meterModel->getChannel(static_cast<unsigned>(channel));
    switch (mode) {
    case kEditRelativeOffset: model->editRelativeOffset(); break;
    case kEditManualZero: model->editManualZero(); break;
    case kEditLowerClassifier: model->getClassifierController().editLowerThreshold(); break;
    case kEditUpperClassifier: model->getClassifierController().editUpperThreshold(); break;
    case kEditVectorSumOffset: meterModel->editVectorSumRelativeOffset(); break;
    case kEditTriggerLevel: model->editTriggerLevel(true); break;
    default: break;
    }
}

void MainWindow::editVectorSumRelativeOffset() { startValueEntry(1, kEditVectorSumOffset); }

// ---- Data logging and screen capture ----------------------------------------

void MainWindow::toggleUsbLogging() {
    switch (FileIoManager::instance()->getLoggingState()) {
    case 0:
        try {
            meterModel->startDataLogging(0);
            usbLoggingEntry->setName("Stop Data\nLogging");
        } catch (const LocalExceptionNoUsbDrive&) {
            showMessage(kNoUsbDrive);
        } catch (const LocalExceptionNoProbe&) {
            showMessage("No probe connected.");
        } catch (...) {   // folder or file could not be made, or anything else
            showMessage(kUsbSaveFailed);
        }
        break;
    case 1: {
        const std::string name = meterModel->stopDataLogging();
        showMessage(("Log saved to " + name + "\non USB drive.").c_str());
        usbLoggingEntry->setName("Start Data\nLogging");
        break;
    }
    default:   // the internal log runs
        break;
    }
    showMenu();
}

void MainWindow::toggleInternalLogging() {
    switch (FileIoManager::instance()->getLoggingState()) {
    case 0:
        try {
            meterModel->startDataLogging(1);
            internalLoggingEntry->setName("Stop Data\nLogging");
        } catch (const std::exception& e) {   // no probe, no folder or file: nothing is shown
            Logger::instance()->log(1, "MainWindow", std::string("Internal data logging not started: ") + e.what());
        } catch (...) {
            Logger::instance()->log(1, "MainWindow", "Internal data logging not started: unknown exception");
        }
        break;
    case 2: {
        std::string name = meterModel->stopDataLogging();
        const std::string::size_type slash = name.rfind('/');
        if (slash != std::string::npos) name.erase(0, slash + 1);
        showMessage(("Log saved to " + name + "\non internal drive.\nTo view, download via web interface.").c_str());
        internalLoggingEntry->setName("Start Data\nLogging");
        break;
    }
    default:   // the USB log runs
        break;
    }
}

// A log that a row could not be written to has stopped (on the thread that
// wrote the row): the pop-up says so, and the entries follow the logging
// state as it is now (a new log may have started meanwhile).
void MainWindow::onDataLogFailed(int destination) {
    gui::post([this, destination] {
        showMessage(destination == 0 ? kUsbLogFailed : kInternalLogFailed);
        const int state = FileIoManager::instance()->getLoggingState();
        if (usbLoggingEntry) usbLoggingEntry->setName(state == 1 ? "Stop Data\nLogging" : "Start Data\nLogging");
        if (internalLoggingEntry)
            internalLoggingEntry->setName(state == 2 ? "Stop Data\nLogging" : "Start Data\nLogging");
        showMenu();
    });
}

void MainWindow::captureScreen() {
    try {
        const std::string name = screencapture::captureScreen(*FileIoManager::instance());
        showMessage(("Saved to " + name + "\non USB drive.").c_str());
    } catch (...) {
        showMessage(kUsbSaveFailed);
    }
}

// ---- Key-backlight test -----------------------------------------------------

// The pop-up is shown here, on the key link's reader; the frames and their
// waits run on the test's own thread, which the window joins when it goes.
void MainWindow::startButtonTest() {
    if (!keyInterface) return;   // nothing before the start-up step made the key link
    showMessage("Testing Buttons");
    backlightTest.start();
}
