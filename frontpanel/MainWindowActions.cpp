// MainWindow: the menu actions.  Nearly every action forwards one value to
// one model operation; the visible result (radio marks, readouts) comes back
// through the models' signals and the window's handlers.
#include "frontpanel/MainWindow.h"

#include "channel/ChannelModel.h"
#include "channel/ClassifierController.h"
#include "channel/SettingRanges.h"
#include "frontpanel/Menu.h"
#include "frontpanel/MenuElement.h"
#include "frontpanel/MenuTree.h"
#include "frontpanel/NumericKeypad.h"
#include "frontpanel/ProgramStop.h"
#include "meter/MeterModel.h"
#include "frontpanel/EngineeringPasswordDisplay.h"
#include "pages/AnalogOutScalingDisplay.h"
#include "pages/DateTimeDisplay.h"
#include "pages/DiagDisplay.h"
#include "pages/ErrorDisplay.h"
#include "pages/FirmwareUpdateDisplay.h"
#include "pages/GpibConfigDisplay.h"
#include "pages/NetworkConfigDisplay.h"
#include "pages/NumericDisplay.h"
#include "pages/ProfilesDisplay.h"
#include "pages/RS232ConfigDisplay.h"
#include "pages/SystemInfoDisplay.h"
#include "pages/VectorSumDisplay.h"
#include "pages/WaveFormDisplay.h"
#include "platform/Platform.h"
#include "status/ScpiErrorQueue.h"
#include "widgets/Form.h"
#include "widgets/GuiThread.h"

#include <FL/Fl_Input.H>
#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace {

// fn on channel `channel` (1-3), or on channels 1, 2, 3 in turn for 0.
template <typename Fn>
void forChannels(MeterModel* meter, int channel, Fn fn) {
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot) {
        if (channel != 0 && static_cast<unsigned>(channel) != slot) continue;
        if (ChannelModel* model = meter->getChannel(slot)) fn(*model);
    }
}

// A hold flag: toggled on one channel; on all channels toggled together when
// the three agree, else switched on for all three (a mixed state becomes all
// on first).
void toggleHoldFlag(MeterModel* meter, int channel, bool (ChannelModel::*get)() const,
                    void (ChannelModel::*set)(bool), void (ChannelModel::*toggle)()) {
    if (channel != 0) {
        forChannels(meter, channel, [toggle](ChannelModel& m) { (m.*toggle)(); });
        return;
    }
    int on = 0;
    forChannels(meter, 0, [&on, get](ChannelModel& m) { on += (m.*get)() ? 1 : 0; });
    const bool agree = on == 0 || on == static_cast<int>(MeterModel::kSlotCount);
    forChannels(meter, 0, [agree, set, toggle](ChannelModel& m) {
        if (agree) (m.*toggle)();
        else (m.*set)(true);
    });
}

// One step of the digit editor of the value under entry, by edit mode: the
// channel's offsets and trigger level, the channel's classifier thresholds,
// or the vector-sum offset (channel 1's menu only).
struct EditOperation {
    void (ChannelModel::*channel)();
    void (ClassifierController::*classifier)();
    void (MeterModel::*meter)();
};

void dispatchEdit(MeterModel* meter, unsigned editMode, int channel, const EditOperation& op) {
    ChannelModel* model = meter->getChannel(static_cast<unsigned>(channel));
    switch (editMode) {
    case MainWindow::kEditRelativeOffset: case MainWindow::kEditManualZero: case MainWindow::kEditTriggerLevel:
        if (model) (model->*op.channel)();
        break;
    case MainWindow::kEditLowerClassifier: case MainWindow::kEditUpperClassifier:
        if (model) (model->getClassifierController().*op.classifier)();
        break;
    case MainWindow::kEditVectorSumOffset:
        if (channel == 1) (meter->*op.meter)();
        break;
    default:   // nothing under entry; any other number (negative ones too): ignored
        break;
    }
}

void runShutdown() {
    programstop::saveFiles();
    sync();
    platform::runCommand({platform::path::kShutdown, "-h", "now"});
}

}  // namespace

// ---- Forwarding families --------------------------------------------------------

void MainWindow::setUpdateRate(float readingsPerSecond) { meterModel->setDisplayRate(readingsPerSecond); }
void MainWindow::setPowerOnMode(int mode) { meterModel->setPowerOnMode(mode); }
void MainWindow::runWaveform() { meterModel->startAcquisition(); }
void MainWindow::stopWaveform() { meterModel->stopAcquisition(); }
void MainWindow::setTriggerSlope(int slope) { meterModel->setTriggerSlope(slope); }
void MainWindow::setTimebase(int index) { meterModel->setTimebase(index); }
void MainWindow::setAngleUnits(int units) { meterModel->setAngleUnits(units); }

// A new trigger channel restarts an acquisition that runs or waits; a
// stopped one stays stopped.
void MainWindow::setTriggerChannel(int slot) {
    meterModel->setTriggerChannel(slot);
    if (meterModel->getAcquisitionState() != 0) {
        meterModel->stopAcquisition();
        meterModel->startAcquisition();
    }
}

// Choosing a trigger mode also starts a stopped acquisition.
void MainWindow::setTriggerMode(int mode) {
    meterModel->setTriggerMode(mode);
    if (meterModel->getAcquisitionState() != 0) meterModel->stopAcquisition();
    meterModel->startAcquisition();
}

void MainWindow::setWaveformScale(int channel, int scale) {
    forChannels(meterModel, channel, [scale](ChannelModel& m) { m.setWaveformScale(scale); });
}
void MainWindow::setTimeUnits(int units) {
    forChannels(meterModel, 0, [units](ChannelModel& m) { m.setTimeUnits(units); });
}
void MainWindow::setTemperatureUnits(int units) {
    forChannels(meterModel, 0, [units](ChannelModel& m) { m.setTemperatureUnits(units); });
}
void MainWindow::setFluxUnits(int units) {
    forChannels(meterModel, 0, [units](ChannelModel& m) { m.setFluxUnits(units); });
}
void MainWindow::setMode(int channel, int mode) {
    forChannels(meterModel, channel, [mode](ChannelModel& m) { m.setMode(mode); });
}
void MainWindow::setRange(int channel, int range) {
    forChannels(meterModel, channel, [range](ChannelModel& m) { m.setRange(range); });
}
void MainWindow::setAutorange(int channel) {
    forChannels(meterModel, channel, [](ChannelModel& m) { m.setAutorange(true); });
}
void MainWindow::setFreqRange(int channel, int freqRange) {
    forChannels(meterModel, channel, [freqRange](ChannelModel& m) { m.setFreqRange(freqRange); });
}
void MainWindow::relativeOff(int channel) {
    forChannels(meterModel, channel, [](ChannelModel& m) { m.disableRelative(); });
}
void MainWindow::relativeAuto(int channel) {
    forChannels(meterModel, channel, [](ChannelModel& m) { m.setAutoRelative(); });
}
void MainWindow::setZeroMode(int channel, int mode) {
    forChannels(meterModel, channel, [mode](ChannelModel& m) { m.setZeroMode(mode); });
}
void MainWindow::startZero(int channel) {
    forChannels(meterModel, channel, [](ChannelModel& m) { m.startZero(); });
}
void MainWindow::resetHolds(int channel) {
    forChannels(meterModel, channel, [](ChannelModel& m) { m.resetHolds(); });
}
void MainWindow::setCorrectedOutputMode(int channel, int mode) {
    forChannels(meterModel, channel, [mode](ChannelModel& m) { m.setCdacMode(mode); });
}
void MainWindow::setCorrectedOutputScaling(int channel, int tenths) {
    forChannels(meterModel, channel, [tenths](ChannelModel& m) { m.setCdacScaling(tenths); });
}
void MainWindow::setUncorrectedOutputMode(int channel, int mode) {
    forChannels(meterModel, channel, [mode](ChannelModel& m) { m.setUdacMode(mode); });
}
void MainWindow::setUncorrectedOutputScaling(int channel, int tenths) {
    forChannels(meterModel, channel, [tenths](ChannelModel& m) { m.setUdacScaling(tenths); });
}

void MainWindow::toggleHoldActive(int channel) {
    toggleHoldFlag(meterModel, channel, &ChannelModel::isHoldActive, &ChannelModel::setHoldActive,
                   &ChannelModel::toggleHoldActive);
}
void MainWindow::toggleMaxHold(int channel) {
    toggleHoldFlag(meterModel, channel, &ChannelModel::isMaxHoldEnabled, &ChannelModel::setMaxHoldEnabled,
                   &ChannelModel::toggleMaxHold);
}
void MainWindow::toggleMinHold(int channel) {
    toggleHoldFlag(meterModel, channel, &ChannelModel::isMinHoldEnabled, &ChannelModel::setMinHoldEnabled,
                   &ChannelModel::toggleMinHold);
}
void MainWindow::togglePeakHold(int channel) {
    toggleHoldFlag(meterModel, channel, &ChannelModel::isPeakHoldEnabled, &ChannelModel::setPeakHoldEnabled,
                   &ChannelModel::togglePeakHold);
}
void MainWindow::toggleValleyHold(int channel) {
    toggleHoldFlag(meterModel, channel, &ChannelModel::isValleyHoldEnabled,
                   &ChannelModel::setValleyHoldEnabled, &ChannelModel::toggleValleyHold);
}

// On one channel: on -> off; off or under threshold entry -> on.  On all
// channels, channel 1's classifier decides for the three.
void MainWindow::toggleClassifier(int channel) {
    ChannelModel* decider = meterModel->getChannel(static_cast<unsigned>(channel == 0 ? 1 : channel));
    if (!decider) return;
    const int mode = decider->getClassifierController().getMode() == 1 ? 0 : 1;
    forChannels(meterModel, channel, [mode](ChannelModel& m) { m.getClassifierController().setMode(mode); });
}

void MainWindow::setVectorSumOutputMode(int mode) { meterModel->setVectorSumOutputMode(mode); }
void MainWindow::setVectorSumOutputScaling(int tenths) { meterModel->setVectorSumOutputScaling(tenths); }
void MainWindow::vectorSumRelativeOff() { meterModel->disableVectorSumRelative(); }
void MainWindow::vectorSumRelativeAuto() { meterModel->setVectorSumAutoRelative(); }
void MainWindow::toggleVectorSumMaxHold() { meterModel->toggleVectorSumMaxHold(); }
void MainWindow::toggleVectorSumMinHold() { meterModel->toggleVectorSumMinHold(); }
void MainWindow::toggleVectorSumHoldActive() { meterModel->toggleVectorSumHoldActive(); }
void MainWindow::resetVectorSumHolds() { meterModel->resetVectorSumHolds(); }

// ---- Demo and normal mode, command-line mode ---------------------------------------
// Each ends the machine (or the program) on the instrument; the PC build's
// stand-ins only log the call, and the program goes on.  Each first writes
// the settings not yet written.  Failures go unnoticed: the remaining steps
// run all the same.

void MainWindow::setDemoMode() {
    const int fd = ::open(platform::dataFile(".demo").c_str(), O_RDWR | O_CREAT, 0666);
    if (fd >= 0) ::close(fd);
    runShutdown();
}

void MainWindow::setNormalMode() {
    ::unlink(platform::dataFile(".demo").c_str());
    runShutdown();
}

// Blocks the key link's reader (and so the keys) until the script ends.
void MainWindow::commandLineMode() {
    programstop::saveFiles();
    platform::runCommand({platform::script("tvlCLI.sh")});
}

// ---- Pages -----------------------------------------------------------------------------
// The pages take the toolkit lock themselves where they change widgets.

void MainWindow::applyDateTime() {
    if (dateTimeDisplay) dateTimeDisplay->applySettings();
}
void MainWindow::saveProfile() {
    if (profilesDisplay) profilesDisplay->saveProfile();
}
void MainWindow::restoreProfile() {
    if (profilesDisplay) profilesDisplay->restoreProfile();
}
void MainWindow::restoreFactoryDefaults() {
    if (profilesDisplay) profilesDisplay->restoreFactoryDefaults();
}

// Steps one choice of the RS-232 page: 0 speed, 1 data bits, 2 stop bits,
// 3 parity, 4 flow control.
void MainWindow::changeRs232Setting(int setting) {
    if (!rs232ConfigDisplay) return;
    gui::Lock lock;
    switch (setting) {
    case 0: rs232ConfigDisplay->nextSpeed(); break;
    case 1: rs232ConfigDisplay->nextDataBits(); break;
    case 2: rs232ConfigDisplay->nextStopBits(); break;
    case 3: rs232ConfigDisplay->nextParity(); break;
    case 4: rs232ConfigDisplay->nextFlowControl(); break;
    default: break;
    }
}

// ---- Error page ---------------------------------------------------------------------

void MainWindow::refreshErrorPanel() {
    gui::Lock lock;
    if (!errorDisplay) return;
    errorDisplay->refresh();
    errorDisplay->redraw();
    redraw();
}

void MainWindow::clearOldestError() {
    ScpiErrorQueue::instance()->popOldest();
    refreshErrorPanel();
}

void MainWindow::clearAllErrors() {
    ScpiErrorQueue::instance()->clear();
    refreshErrorPanel();
}

// ---- Value entry ----------------------------------------------------------------------

void MainWindow::editDigitLeft(int channel) {
    dispatchEdit(meterModel, static_cast<unsigned>(editMode.load()), channel,
                 {&ChannelModel::editDigitLeft, &ClassifierController::editDigitLeft, &MeterModel::editDigitLeft});
}
void MainWindow::editDigitRight(int channel) {
    dispatchEdit(meterModel, static_cast<unsigned>(editMode.load()), channel,
                 {&ChannelModel::editDigitRight, &ClassifierController::editDigitRight, &MeterModel::editDigitRight});
}
void MainWindow::editIncrementDigit(int channel) {
    dispatchEdit(meterModel, static_cast<unsigned>(editMode.load()), channel,
                 {&ChannelModel::editIncrementDigit, &ClassifierController::editIncrementDigit,
                  &MeterModel::editIncrementDigit});
}
void MainWindow::editDecrementDigit(int channel) {
    dispatchEdit(meterModel, static_cast<unsigned>(editMode.load()), channel,
                 {&ChannelModel::editDecrementDigit, &ClassifierController::editDecrementDigit,
                  &MeterModel::editDecrementDigit});
}
void MainWindow::editToggleSign(int channel) {
    dispatchEdit(meterModel, static_cast<unsigned>(editMode.load()), channel,
                 {&ChannelModel::editToggleSign, &ClassifierController::editToggleSign, &MeterModel::editToggleSign});
}
void MainWindow::editReset(int channel) {
    dispatchEdit(meterModel, static_cast<unsigned>(editMode.load()), channel,
                 {&ChannelModel::editReset, &ClassifierController::editReset, &MeterModel::editReset});
}

// The back key of a value-entry menu: relative on with the entered offset,
// the manual zero applied, the classifier back to its mode before the entry,
// the vector-sum relative on with its offset, or the trigger-level entry
// ended.  editMode itself stays.
void MainWindow::finishEntry(int channel) {
    ChannelModel* model = meterModel->getChannel(static_cast<unsigned>(channel));
    switch (static_cast<unsigned>(editMode.load())) {
    case kEditRelativeOffset: if (model) model->setManualRelative(); break;
    case kEditManualZero: if (model) model->applyManualZero(); break;
    case kEditLowerClassifier: case kEditUpperClassifier: if (model) model->getClassifierController().endEdit(); break;
    case kEditVectorSumOffset: if (channel == 1) meterModel->setVectorSumManualRelative(); break;
    case kEditTriggerLevel: if (model) model->editTriggerLevel(false); break;
    default: break;
    }
}

// ---- Menu contents ------------------------------------------------------------------

// Runs on the thread that changes the vector-sum relative state: the mark is
// moved on the GUI thread.
void MainWindow::onVectorSumRelativeChanged(int) { markLater(menutree::MenuId::VectorSumRelative); }

// Items Max, Min, Peak, Valley and Active of "All Channels Hold" are marked
// when the flag is on for all three channels; "Reset" is left alone.
void MainWindow::updateAllChannelsHoldMarks() {
    if (!allChannelsHoldMenu) return;
    bool (ChannelModel::*const flags[5])() const = {&ChannelModel::isMaxHoldEnabled, &ChannelModel::isMinHoldEnabled,
                                                    &ChannelModel::isPeakHoldEnabled,
                                                    &ChannelModel::isValleyHoldEnabled, &ChannelModel::isHoldActive};
    for (int i = 0; i < 5; ++i) {
        bool all = true;
        forChannels(meterModel, 0, [&all, &flags, i](ChannelModel& m) { all = all && (m.*flags[i])(); });
        allChannelsHoldMenu->setItemStyle(i, all ? 1 : 0);
    }
}

// The scale entries of the channel's waveform scale menu read the channel's
// per-division values.
void MainWindow::updateWaveformScaleItems(int channel) {
    ChannelModel* model = meterModel->getChannel(static_cast<unsigned>(channel));
    if (!model || !scaleMenus[channel - 1]) return;
    for (int i = 0; i < 6; ++i) {
        const std::string text = model->getWaveformScaleText(i);
        gui::Lock lock;
        if (MenuElement* item = scaleMenus[channel - 1]->getItem(i)) item->setName(text.c_str());
    }
}

// Entering the waveform view: on the three-channel model the channels' "AC
// Freq Setup" links leave their menus (restoreAcFreqEntries puts them back);
// on both models the meter enters waveform mode.
void MainWindow::removeAcFreqEntries() {
    if (meterModel->isThreeChannelModel()) {
        for (int i = 0; i < 3; ++i)
            if (channelMenus[i]) channelMenus[i]->removeItem(acFreqEntries[i]);
    }
    meterModel->enterWaveformMode();
}

void MainWindow::hideNetworkAddressItems() {
    if (!networkConfigMenu) return;
    gui::Lock lock;
    for (int i = 3; i >= 0; --i) networkConfigMenu->removeItem(networkAddressEntries[i]);
}

// The menu takes at most six items: a second call adds nothing.
void MainWindow::showNetworkAddressItems() {
    if (!networkConfigMenu) return;
    gui::Lock lock;
    for (MenuElement* item : networkAddressEntries) networkConfigMenu->addItem(item);
}

// ---- Panels and the keypad ----------------------------------------------------------

// Every readout and page leaves the window; the soft buttons, the footer and
// the message pop-up stay.  The keypad is detached from the form it typed
// into, so no later key writes into a page that is gone.  The caller holds
// the toolkit lock.
void MainWindow::hideAllPanels() {
    if (numericKeypad) numericKeypad->attachInput(nullptr);
    Fl_Widget* const panels[] = {
        singleNumericDisplay, waveFormDisplay, numericDisplays[0], numericDisplays[1], numericDisplays[2],
        diagDisplays[0], diagDisplays[1], diagDisplays[2], singleDiagDisplay,
        networkConfigDisplay, gpibConfigDisplay,  rs232ConfigDisplay, systemInfoDisplay,
        errorDisplay,         profilesDisplay,    dateTimeDisplay,    corrScalingDisplays[0],
        uncorrScalingDisplays[0], corrScalingDisplays[1], uncorrScalingDisplays[1], corrScalingDisplays[2],
        uncorrScalingDisplays[2], vsumScalingDisplay, firmwareUpdateDisplay, numericKeypad,
        vectorSumDisplay, passwordDisplay};
    for (Fl_Widget* panel : panels) {
        if (!panel) continue;
        remove(panel);
        panel->hide();
    }
}

// The caller holds the toolkit lock.
void MainWindow::showKeypad() {
    if (!numericKeypad) return;
    add(numericKeypad);
    numericKeypad->show();
    redraw();
}

namespace {
// The page alone on the screen.  The caller holds the toolkit lock.
void showAlone(MainWindow& w, Fl_Widget* page) {
    w.hideAllPanels();
    if (!page) return;
    w.add(page);
    page->show();
    page->redraw();
    w.redraw();
}

// The keypad types into field `row` of the page.  The caller holds the
// toolkit lock.
void attachKeypad(NumericKeypad* keypad, Form* page, unsigned row) {
    if (keypad && page) keypad->attachInput(page->getInput(row));
}
}  // namespace

void MainWindow::showNetworkPanel() { showAlone(*this, networkConfigDisplay); }
void MainWindow::showGpibPanel() { showAlone(*this, gpibConfigDisplay); }

void MainWindow::openNetworkConfig() {
    gui::Lock lock;
    showNetworkPanel();
}

// The GPIB address: whole numbers up to 30 (the "." key is skipped).
void MainWindow::editGpibAddress() {
    gui::Lock lock;
    showGpibPanel();
    attachKeypad(numericKeypad, gpibConfigDisplay, 0);
    if (numericKeypad) {
        numericKeypad->disableKey(NumericKeypad::kDecimalPointKey);
        numericKeypad->setIntMax(30);
    }
    showKeypad();
}

void MainWindow::editNetworkField(int row) {
    gui::Lock lock;
    attachKeypad(numericKeypad, networkConfigDisplay, static_cast<unsigned>(row));
    showKeypad();
}

void MainWindow::editDateTimeField(int row) {
    gui::Lock lock;
    attachKeypad(numericKeypad, dateTimeDisplay, static_cast<unsigned>(row));
    showKeypad();
}

// An output's full scale: volts up to 10.
void MainWindow::editOutputFullScale(Form* form) {
    gui::Lock lock;
    attachKeypad(numericKeypad, form, 0);
    if (numericKeypad) numericKeypad->setFloatMax(settingrange::kMaxFullScaleVolts);
    showKeypad();
}

void MainWindow::showScalingPanel(Form* form) {
    gui::Lock lock;
    showAlone(*this, form);
    if (!form) return;
    form->showMessage("Press <Enter> to Apply");
    if (auto* scaling = dynamic_cast<AnalogOutScalingDisplay*>(form)) scaling->showScaling();
}
