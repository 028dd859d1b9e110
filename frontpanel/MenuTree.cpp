#include "frontpanel/MenuTree.h"

#include "channel/SettingRanges.h"
#include "frontpanel/MainWindow.h"
#include "frontpanel/NumericKeypad.h"
#include "pages/AnalogOutScalingDisplay.h"
#include "widgets/GuiThread.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace menutree {

namespace {

using MW = MainWindow;
using M = MenuId;
using E = EntryId;
using WindowFn = void (MW::*)();

// ---- Actions ------------------------------------------------------------------

Action call(WindowFn f) {
    return [f](MW& w, int) { (w.*f)(); };
}
// The same, with the toolkit lock held around the call.
Action locked(WindowFn f) {
    return [f](MW& w, int) {
        gui::Lock lock;
        (w.*f)();
    };
}
// f(channel).
Action onChannel(void (MW::*f)(int)) {
    return [f](MW& w, int c) { (w.*f)(c); };
}
// f(value).
Action with(void (MW::*f)(int), int value) {
    return [f, value](MW& w, int) { (w.*f)(value); };
}
Action with(void (MW::*f)(float), float value) {
    return [f, value](MW& w, int) { (w.*f)(value); };
}
// f(channel, value).
Action with(void (MW::*f)(int, int), int value) {
    return [f, value](MW& w, int c) { (w.*f)(c, value); };
}
// A key of the window's numeric keypad.
Action keypad(void (NumericKeypad::*f)()) {
    return [f](MW& w, int) {
        if (w.numericKeypad) (w.numericKeypad->*f)();
    };
}

// The value-entry menu of the menu's channel (or the entry's), editing what.
Action valueEntry(MW::EditMode what) { return with(&MW::startValueEntry, static_cast<int>(what)); }

// f(page): of the three full-scale pages (corrected or uncorrected output),
// the menu's channel's; or the vector sum's one page.
template <class Page>
Action onScalingPage(void (MW::*f)(Form*), Page* (MW::*pages)[3]) {
    return [f, pages](MW& w, int c) {
        if (c >= 1 && c <= 3) (w.*f)((w.*pages)[c - 1]);
    };
}
Action onScalingPage(void (MW::*f)(Form*), AnalogOutVsumScalingDisplay* MW::*page) {
    return [f, page](MW& w, int) { (w.*f)(w.*page); };
}

// ---- Entries ----------------------------------------------------------------

EntrySpec item(const char* name, Action action, E id = E::None, int channel = 0) {
    EntrySpec e{name, {}, std::move(action), {}};
    e.id = id;
    e.entryChannel = channel;
    return e;
}
EntrySpec link(const char* name, M to, int toChannel = 0, Action first = {}, Action second = {}) {
    return EntrySpec{name, {to, toChannel}, std::move(first), std::move(second)};
}
EntrySpec link(const char* name, M to, Action first, Action second = {}) {
    return link(name, to, 0, std::move(first), std::move(second));
}
EntrySpec named(EntrySpec e, E id, int channel = 0) {
    e.id = id;
    e.entryChannel = channel;
    return e;
}
// Made and referenced, but left out of the menu at start.
EntrySpec detached(EntrySpec e) {
    e.placed = false;
    return e;
}

// ---- Menus --------------------------------------------------------------------

MenuSpec plain(M id, const char* title, M parent, std::vector<EntrySpec> entries,
               std::vector<Action> back = {}) {
    return MenuSpec{id, title, false, false, kNoMark, 20, parent, std::move(entries), std::move(back)};
}
MenuSpec radio(M id, const char* title, int mark, M parent, std::vector<EntrySpec> entries) {
    return MenuSpec{id, title, false, true, mark, 20, parent, std::move(entries), {}};
}
MenuSpec perChannel(MenuSpec spec) {
    spec.perChannel = true;
    return spec;
}
MenuSpec sized(MenuSpec spec, int titleSize) {
    spec.titleSize = titleSize;
    return spec;
}

// "<--", "-->", "Press": one set of entries shared by every keypad page.
std::vector<EntrySpec> keypadEntries() {
    return {item("<--", keypad(&NumericKeypad::selectPreviousKey), E::KeypadPrevious),
            item("-->", keypad(&NumericKeypad::selectNextKey), E::KeypadNext),
            item("Press", keypad(&NumericKeypad::pressSelectedKey), E::KeypadPress)};
}
MenuSpec keypadPage(M id, const char* title, std::vector<Action> back) {
    return plain(id, title, M::None, keypadEntries(), std::move(back));
}

// The hold entries of a channel's and of the all-channels hold menu.
std::vector<EntrySpec> holdEntries() {
    return {item("Max", onChannel(&MW::toggleMaxHold)),       item("Min", onChannel(&MW::toggleMinHold)),
            item("Peak", onChannel(&MW::togglePeakHold)),     item("Valley", onChannel(&MW::toggleValleyHold)),
            item("Active", onChannel(&MW::toggleHoldActive)), item("Reset", onChannel(&MW::resetHolds))};
}
std::vector<EntrySpec> modeEntries() {
    return {item("DC", with(&MW::setMode, settingrange::kModeDc)),
            item("AC", with(&MW::setMode, settingrange::kModeAc))};
}
std::vector<EntrySpec> rangeEntries(const char* autoName) {
    return {item("30 G", with(&MW::setRange, 0)),  item("300 G", with(&MW::setRange, 1)),
            item("3 kG", with(&MW::setRange, 2)),  item("30 kG", with(&MW::setRange, 3)),
            item(autoName, onChannel(&MW::setAutorange))};
}
std::vector<EntrySpec> acFreqEntries() {
    return {item("Full BW\n1Hz - 50kHz", with(&MW::setFreqRange, 4)),
            item("High Freq\n20Hz - 50kHz", with(&MW::setFreqRange, 0)),
            item("Med Freq\n20Hz - 10kHz", with(&MW::setFreqRange, 1)),
            item("Low Freq\n20Hz - 500Hz", with(&MW::setFreqRange, 2)),
            item("X Low Freq\n1Hz - 500Hz", with(&MW::setFreqRange, 3)),
            item("No\nCorrection", with(&MW::setFreqRange, 5))};
}
std::vector<EntrySpec> zeroModeEntries() {
    return {item("DC Only", with(&MW::setZeroMode, settingrange::kZeroModes[0])),
            item("Basic", with(&MW::setZeroMode, settingrange::kZeroModes[1])),
            item("Advanced", with(&MW::setZeroMode, settingrange::kZeroModes[2])),
            item("Auto Zero", onChannel(&MW::startZero))};
}
std::vector<EntrySpec> outputModeEntries(void (MW::*set)(int, int)) {
    return {item("Off", with(set, 0)), item("Wave Form", with(set, 1)), item("RMS", with(set, 2))};
}
// 3 V, 10 V and the custom full scale, whose link opens the keypad page, runs
// the prompt that shows the form, then attaches the keypad to the form.
std::vector<EntrySpec> scalingEntries(void (MW::*set)(int, int), M keypadPage, Action prompt, Action keypad) {
    return {item("3V Full\nScale", with(set, 30)), item("10V Full\nScale", with(set, 100)),
            link("Custom\nFull Scale", keypadPage, std::move(prompt), std::move(keypad))};
}
std::vector<EntrySpec> vectorSumScalingEntries() {
    return {item("3V Full\nScale", with(&MW::setVectorSumOutputScaling, 30)),
            item("10V Full\nScale", with(&MW::setVectorSumOutputScaling, 100)),
            link("Custom\nFull Scale", M::VectorSumFullScale,
                 onScalingPage(&MW::promptScaling, &MW::vsumScalingDisplay),
                 onScalingPage(&MW::editOutputFullScale, &MW::vsumScalingDisplay))};
}
EntrySpec networkAddressLink(const char* name, M page, int row, E id) {
    return detached(named(link(name, page, with(&MW::editNetworkField, row)), id));
}
EntrySpec dateTimeLink(const char* name, M page, int row) {
    return link(name, page, with(&MW::editDateTimeField, row));
}

std::vector<MenuSpec> buildTable() {
    const std::vector<Action> measurementScreen{call(&MW::showMeasurementScreen)};
    const std::vector<Action> hideKeypad{call(&MW::hideKeypad)};
    const std::vector<Action> hideKeypadAndMeasure{call(&MW::hideKeypad), call(&MW::showMeasurementScreen)};
    return {
        plain(M::Main, "Main", M::Main,
              {link("Channels", M::Channels), link("Units", M::Units), link("Display", M::Display),
               link("External\nOutputs", M::ExternalOutputs), link("Data\nLogging", M::DataLogging),
               link("System", M::System)}),
        plain(M::System, "System", M::Main,
              {link("Comm\nSetup", M::CommSetup),
               link("Firmware\nUpdate", M::FirmwareUpdate, locked(&MW::showFirmwareUpdatePanel)),
               link("Set Date\nand Time", M::DateTime, call(&MW::showDateTimePanel)),
               link("Display\nSystem Info", M::SystemInfo, call(&MW::showSystemInfoPanel)),
               link("User Setup\nSave-Recall", M::Profiles, call(&MW::showProfilesPanel)),
               link("More...", M::SystemMore)}),
        plain(M::SystemMore, "System", M::None,
              {link("Display\nErrors", M::SystemErrors, call(&MW::showErrorPanel)),
               detached(named(link("Engineering", M::EngineerPassword, call(&MW::showPasswordPanel)),
                              E::Engineering)),
               detached(named(link("Power On\nOptions", M::PowerOn), E::PowerOnOptions))}),
        plain(M::Testing, "Testing", M::Main,
              {item("Test Button\nBacklights", call(&MW::startButtonTest)),
               item("Initialize\nChnl Procs", call(&MW::reinitChannelProcessors)),
               item("Command\nLine Mode", call(&MW::commandLineMode))}),
        plain(M::Channels, "Channels", M::Main,
              {link("Channel 1", M::Channel, 1), link("Channel 2", M::Channel, 2), link("Channel 3", M::Channel, 3),
               link("All\nChannels", M::AllChannels), link("Vector\nSum", M::VectorSum)}),
        plain(M::Engineer, "Engineer", M::None, {link("Demo", M::Demo), link("Testing", M::Testing)}),

        // ---- One set per channel
        perChannel(plain(M::Channel, "Channel %d", M::Channels,
                         {link("Mode", M::ChannelMode), link("Range", M::ChannelRange), link("Hold", M::ChannelHold),
                          named(link("AC Freq\nSetup", M::ChannelAcFreq), E::AcFreqSetup),
                          link("Relative", M::ChannelRelative), link("Zero", M::ChannelZero)})),
        perChannel(radio(M::ChannelMode, "Channel %d\nMode", kMarkFromModel, M::Channel, modeEntries())),
        perChannel(radio(M::ChannelRange, "Channel %d\nRange", kMarkFromModel, M::Channel,
                         rangeEntries("Auto\nRange"))),
        perChannel(plain(M::ChannelHold, "Channel %d\nHold", M::Channel, holdEntries())),
        perChannel(radio(M::ChannelAcFreq, "Channel %d\nAC Freq\nSetup", kMarkFromModel, M::Channel, acFreqEntries())),
        perChannel(radio(M::ChannelRelative, "Channel %d\nRelative", kMarkFromModel, M::Channel,
                         {item("Off", onChannel(&MW::relativeOff)), item("Auto", onChannel(&MW::relativeAuto)),
                          link("Manual", M::ValueEntry, valueEntry(MW::kEditRelativeOffset))})),
        perChannel(plain(M::ValueEntry, "Channel %d\nManual\nRelative", M::None,
                         {item("Digit\nLeft", onChannel(&MW::editDigitLeft)),
                          item("Digit\nRight", onChannel(&MW::editDigitRight)),
                          item("Increment\nDigit", onChannel(&MW::editIncrementDigit)),
                          item("Decrement\nDigit", onChannel(&MW::editDecrementDigit)),
                          item("+/-", onChannel(&MW::editToggleSign)), item("Reset", onChannel(&MW::editReset))},
                         {onChannel(&MW::finishEntry)})),
        perChannel(plain(M::ChannelZero, "Channel %d\nZero", M::None,
                         {link("Auto", M::ChannelAutoZero),
                          link("Manual", M::ValueEntry, valueEntry(MW::kEditManualZero))})),
        perChannel(plain(M::ChannelAutoZero, "Channel %d\nAuto Zero", M::None, zeroModeEntries())),

        // ---- All channels
        plain(M::AllChannels, "All\nChannels", M::Channels,
              {link("Mode", M::AllMode), link("Range", M::AllRange), link("Hold", M::AllHold),
               link("AC Freq\nSetup", M::AllAcFreq), link("Relative", M::AllRelative), link("Zero", M::AllZero)}),
        radio(M::AllMode, "All\nChannels\nMode", kMarkFromModel, M::AllChannels, modeEntries()),
        radio(M::AllRange, "All\nChannels\nRange", kMarkFromModel, M::AllChannels, rangeEntries("Auto")),
        plain(M::AllHold, "All\nChannels\nHold", M::None, holdEntries()),
        radio(M::AllAcFreq, "All\nChannels\nAC Freq", kMarkFromModel, M::AllChannels, acFreqEntries()),
        radio(M::AllRelative, "All\nChannels\nRelative", kMarkFromModel, M::AllChannels,
              {item("Off", onChannel(&MW::relativeOff)), item("Auto", onChannel(&MW::relativeAuto))}),
        plain(M::AllZero, "All\nChannels\nZero", M::None, zeroModeEntries()),

        // ---- Vector sum
        plain(M::VectorSum, "Vector\nSum", M::None,
              {item("Display", call(&MW::toggleVectorSumDisplay)), link("Hold", M::VectorSumHold),
               link("Relative", M::VectorSumRelative)}),
        plain(M::VectorSumHold, "Vector\nSum Hold", M::None,
              {item("Max", call(&MW::toggleVectorSumMaxHold)), item("Min", call(&MW::toggleVectorSumMinHold)),
               item("Active", call(&MW::toggleVectorSumHoldActive)), item("Reset", call(&MW::resetVectorSumHolds))}),
        radio(M::VectorSumRelative, "Relative", kMarkFromModel, M::None,
              {item("Off", call(&MW::vectorSumRelativeOff)), item("Auto", call(&MW::vectorSumRelativeAuto)),
               link("Manual", M::ValueEntry, 1, call(&MW::editVectorSumRelativeOffset))}),

        // ---- Units
        plain(M::Units, "Units", M::Main,
              {link("Flux Density", M::FluxUnits), link("Temperature", M::TemperatureUnits),
               link("Angles", M::AngleUnits), link("Time", M::TimeUnits)}),
        radio(M::FluxUnits, "Flux\nDensity", kMarkFromModel, M::Units,
              {item("Gauss (G)", with(&MW::setFluxUnits, 0)), item("Tesla (T)", with(&MW::setFluxUnits, 1)),
               item("Oersted (Oe)", with(&MW::setFluxUnits, 2)),
               item("Amp/Meter\n(A/m)", with(&MW::setFluxUnits, 3))}),
        sized(radio(M::TemperatureUnits, "Temperature", kMarkFromModel, M::Units,
                    {item("Fahrenheit (F)", with(&MW::setTemperatureUnits, 0)),
                     item("Celsius (C)", with(&MW::setTemperatureUnits, 1)),
                     item("Kelvin (K)", with(&MW::setTemperatureUnits, 2))}),
              17),
        radio(M::AngleUnits, "Angles", kMarkFromModel, M::Units,
              {item("Degrees\n(deg)", with(&MW::setAngleUnits, 0)),
               item("Radians\n(rad)", with(&MW::setAngleUnits, 1))}),
        radio(M::TimeUnits, "Time", kMarkFromModel, M::Units,
              {item("Freq (Hz)", with(&MW::setTimeUnits, 0)), item("Period (sec)", with(&MW::setTimeUnits, 1))}),

        // ---- Display and the waveform view
        plain(M::Display, "Display", M::Main,
              {link("Update\nRate", M::UpdateRate), link("Brightness\nSettings", M::Brightness),
               named(link("Channels", M::DisplayChannels), E::DisplayChannels),
               item("Numeric", call(&MW::showMeasurementScreen)),
               link("Waveform", M::Waveform, call(&MW::enterWaveformView))}),
        radio(M::UpdateRate, "Update\nRate", kMarkFromModel, M::None,
              {item("5/sec", with(&MW::setUpdateRate, settingrange::kDisplayRates[3])),
               item("2/sec", with(&MW::setUpdateRate, settingrange::kDisplayRates[2])),
               item("1/sec", with(&MW::setUpdateRate, settingrange::kDisplayRates[1])),
               item("0.5/sec", with(&MW::setUpdateRate, settingrange::kDisplayRates[0]))}),
        plain(M::Brightness, "Brightness\nSettings", M::None,
              {item("Display\nBrighter", call(&MW::displayBrighter)),
               item("Display\nDimmer", call(&MW::displayDimmer)),
               item("Buttons\nBrighter", call(&MW::buttonsBrighter)),
               item("Buttons\nDimmer", call(&MW::buttonsDimmer))}),
        plain(M::DisplayChannels, "Channels", M::None,
              {item("Channel 1", with(&MW::toggleDisplay, 0)), item("Channel 2", with(&MW::toggleDisplay, 1)),
               item("Channel 3", with(&MW::toggleDisplay, 2)),
               item("Vector\nSum", call(&MW::toggleVectorSumDisplay), E::VectorSumDisplay)}),
        plain(M::Waveform, "Waveform\nSettings", M::None,
              {link("Time Base", M::TimeBase), link("Scale", M::Scale), link("Trigger\nSetup", M::TriggerSetup),
               item("Run", call(&MW::runWaveform)), item("Stop", call(&MW::stopWaveform)),
               link("AC Freq\nSetup", M::AllAcFreq)}),
        radio(M::TimeBase, "Time Base\n(per div)", kMarkFromModel, M::None,
              {item("1 us", with(&MW::setTimebase, 0)), item("10 us", with(&MW::setTimebase, 1)),
               item("100 us", with(&MW::setTimebase, 2)), item("1 ms", with(&MW::setTimebase, 3)),
               item("10 ms", with(&MW::setTimebase, 4)), item("100 ms", with(&MW::setTimebase, 5))}),
        plain(M::Scale, "Scale", M::None,
              {named(link("Channel %d\nScale", M::ChannelScale), E::None, 1),
               named(link("Channel %d\nScale", M::ChannelScale), E::None, 2),
               named(link("Channel %d\nScale", M::ChannelScale), E::None, 3)}),
        perChannel(radio(M::ChannelScale, "Channel %d\nScale", kMarkFromModel, M::None,
                         {item("Scale 1", with(&MW::setWaveformScale, 0)), item("Scale 2", with(&MW::setWaveformScale, 1)),
                          item("Scale 3", with(&MW::setWaveformScale, 2)), item("Scale 4", with(&MW::setWaveformScale, 3)),
                          item("Scale 5", with(&MW::setWaveformScale, 4)),
                          item("Scale 6", with(&MW::setWaveformScale, 5))})),
        plain(M::TriggerSetup, "Trigger\nSetup", M::None,
              {link("Mode", M::TriggerMode), named(link("Slope", M::TriggerSlope), E::TriggerSlope),
               named(link("Level", M::ValueEntry, valueEntry(MW::kEditTriggerLevel)), E::TriggerLevel, 1),
               detached(named(link("Level", M::ValueEntry, valueEntry(MW::kEditTriggerLevel)), E::TriggerLevel, 2)),
               detached(named(link("Level", M::ValueEntry, valueEntry(MW::kEditTriggerLevel)), E::TriggerLevel, 3)),
               link("Channel", M::TriggerChannel)}),
        radio(M::TriggerMode, "Trigger\nMode", kMarkFromModel, M::None,
              {item("Free Run", with(&MW::setTriggerMode, 0)), item("Auto", with(&MW::setTriggerMode, 1)),
               item("Repeat", with(&MW::setTriggerMode, 2)), item("Single", with(&MW::setTriggerMode, 3))}),
        radio(M::TriggerSlope, "Trigger\nSlope", kMarkFromModel, M::None,
              {item("Positive", with(&MW::setTriggerSlope, 0)), item("Negative", with(&MW::setTriggerSlope, 1))}),
        radio(M::TriggerChannel, "Trigger\nChannel", kMarkFromModel, M::None,
              {item("Channel 1", with(&MW::setTriggerChannel, 1), E::TriggerChannel, 1),
               item("Channel 2", with(&MW::setTriggerChannel, 2), E::TriggerChannel, 2),
               item("Channel 3", with(&MW::setTriggerChannel, 3), E::TriggerChannel, 3)}),

        // ---- External outputs
        plain(M::ExternalOutputs, "External\nOutputs", M::None,
              {link("Analog\nOutputs", M::AnalogOutputs), link("Classifier\nOutputs", M::ClassifierOutputs)}),
        plain(M::AnalogOutputs, "Analog\nOutputs", M::None,
              {link("Channel 1", M::AnalogChannel, 1), link("Channel 2", M::AnalogChannel, 2),
               link("Channel 3", M::AnalogChannel, 3), link("Vector\nSum", M::VectorSumAnalog)}),
        perChannel(plain(M::AnalogChannel, "Channel %d", M::None,
                         {link("Corrected", M::CorrectedOutput), link("Uncorrected", M::UncorrectedOutput)})),
        perChannel(plain(M::CorrectedOutput, "Corrected\nOutput", M::None,
                         {link("Output Mode", M::CorrectedMode), link("Scaling", M::CorrectedScaling)})),
        perChannel(radio(M::CorrectedMode, "Channel %d\nCorrected\nMode", kMarkFromModel, M::None,
                         outputModeEntries(&MW::setCorrectedOutputMode))),
        perChannel(radio(M::CorrectedScaling, "Channel %d\nCorrected\nScaling", kMarkFromModel, M::None,
                         scalingEntries(&MW::setCorrectedOutputScaling, M::CorrectedFullScale,
                                        onScalingPage(&MW::promptScaling, &MW::corrScalingDisplays),
                                        onScalingPage(&MW::editOutputFullScale, &MW::corrScalingDisplays)))),
        perChannel(sized(plain(M::UncorrectedOutput, "Uncorrected\nOutput", M::None,
                               {link("Output Mode", M::UncorrectedMode), link("Scaling", M::UncorrectedScaling)}),
                         18)),
        perChannel(radio(M::UncorrectedMode, "Channel %d\nOutput\nMode", kMarkFromModel, M::None,
                         outputModeEntries(&MW::setUncorrectedOutputMode))),
        perChannel(radio(M::UncorrectedScaling, "Channel %d\nScaling", kMarkFromModel, M::None,
                         scalingEntries(&MW::setUncorrectedOutputScaling, M::UncorrectedFullScale,
                                        onScalingPage(&MW::promptScaling, &MW::uncorrScalingDisplays),
                                        onScalingPage(&MW::editOutputFullScale, &MW::uncorrScalingDisplays)))),
        plain(M::VectorSumAnalog, "Vector\nSum", M::None,
              {link("Output\nMode", M::VectorSumOutputMode), link("Scaling", M::VectorSumScaling)}),
        radio(M::VectorSumOutputMode, "Output\nMode", kMarkFromModel, M::None,
              {item("Off", with(&MW::setVectorSumOutputMode, settingrange::kVectorSumOutputOff)),
               item("On", with(&MW::setVectorSumOutputMode, settingrange::kVectorSumOutputOn))}),
        radio(M::VectorSumScaling, "Scaling", kMarkFromModel, M::None, vectorSumScalingEntries()),
        plain(M::ClassifierOutputs, "Classifier\nOutputs", M::None,
              {link("Channel 1", M::ChannelClassifiers, 1), link("Channel 2", M::ChannelClassifiers, 2),
               link("Channel 3", M::ChannelClassifiers, 3), link("All\nChannels", M::AllClassifiers)}),
        perChannel(plain(M::ChannelClassifiers, "Channel %d\nClassifiers", M::None,
                         {item("Active", onChannel(&MW::toggleClassifier)),
                          link("Set Lower\nThreshold", M::ValueEntry, valueEntry(MW::kEditLowerClassifier)),
                          link("Set Upper\nThreshold", M::ValueEntry, valueEntry(MW::kEditUpperClassifier))})),
        plain(M::AllClassifiers, "All\nChannels\nClassifiers", M::None,
              {item("Active", onChannel(&MW::toggleClassifier))}),

        // ---- Data logging
        plain(M::DataLogging, "Data\nLogging", M::None,
              {link("Log to\nUSB Drive", M::DataLoggingUsb), link("Log to\nInternal Drive", M::DataLoggingInternal),
               link("Update\nRate", M::UpdateRate), item("Screen\nCapture", call(&MW::promptScreenCapture))}),
        plain(M::DataLoggingUsb, "Data\nLogging\nUSB", M::None,
              {item("Start Data\nLogging", call(&MW::toggleUsbLogging), E::UsbLogging)}),
        plain(M::DataLoggingInternal, "Data\nLogging\nInternal", M::None,
              {item("Start Data\nLogging", call(&MW::toggleInternalLogging), E::InternalLogging)}),

        // ---- System pages
        plain(M::CommSetup, "Comm\nSetup", M::None,
              {link("Network\nConfiguration", M::NetworkConfig, call(&MW::openNetworkConfig)),
               link("GPIB\nConfiguration", M::GpibConfig, call(&MW::editGpibAddress)),
               link("RS232\nConfiguration", M::Rs232Config, locked(&MW::showRs232Panel))}),
        plain(M::NetworkConfig, "Network\nConfig", M::None,
              {item("Save and\nReboot", call(&MW::applyNetworkConfig)),
               item("Change\nAddr Mode", call(&MW::toggleNetworkAddressMode)),
               networkAddressLink("Change\nIP Addr", M::ChangeIpAddress, 1, E::NetworkIpAddress),
               networkAddressLink("Change\nNetmask", M::ChangeNetmask, 2, E::NetworkNetmask),
               networkAddressLink("Change\nGateway", M::ChangeGateway, 3, E::NetworkGateway),
               networkAddressLink("Change\nDNS #1", M::ChangeDns, 4, E::NetworkDns)},
              measurementScreen),
        plain(M::Rs232Config, "RS232\nConfig", M::None,
              {item("Change\nSpeed", with(&MW::changeRs232Setting, 0)),
               item("Change\nData Bits", with(&MW::changeRs232Setting, 1)),
               item("Change\nStop Bits", with(&MW::changeRs232Setting, 2)),
               item("Change\nParity", with(&MW::changeRs232Setting, 3)),
               item("Change\nFlow Control", with(&MW::changeRs232Setting, 4))},
              {call(&MW::applyRs232Settings)}),
        keypadPage(M::GpibConfig, "GPIB\nConfig", {call(&MW::applyGpibSettings)}),
        plain(M::FirmwareUpdate, "Firmware\nUpdate", M::None,
              {detached(item("Update from\nInternet", call(&MW::promptInternetFirmwareUpdate), E::FirmwareInternet)),
               detached(item("Update from\nUSB drive", call(&MW::promptUsbFirmwareUpdate), E::FirmwareUsb))},
              measurementScreen),
        plain(M::DateTime, "Set Date\nand Time", M::None,
              {item("Set Date\nand Time", call(&MW::applyDateTime)), dateTimeLink("Change\nYear", M::ChangeYear, 0),
               dateTimeLink("Change\nMonth", M::ChangeMonth, 1), dateTimeLink("Change\nDay", M::ChangeDay, 2),
               dateTimeLink("Change\nHour", M::ChangeHour, 3), dateTimeLink("Change\nMinute", M::ChangeMinute, 4)},
              measurementScreen),
        keypadPage(M::ChangeYear, "Change\nYear", hideKeypad),
        keypadPage(M::ChangeMonth, "Change\nMonth", hideKeypad),
        keypadPage(M::ChangeDay, "Change\nDay", hideKeypad),
        keypadPage(M::ChangeHour, "Change\nHour", hideKeypad),
        keypadPage(M::ChangeMinute, "Change\nMinute", hideKeypad),
        plain(M::SystemInfo, "Display\nSystem\nInfo", M::None, {}, measurementScreen),
        plain(M::Profiles, "User\nSetup\nSave and\nRecall", M::None,
              [] {
                  std::vector<EntrySpec> entries = keypadEntries();
                  entries.push_back(item("Save", call(&MW::saveProfile)));
                  entries.push_back(item("Recall", call(&MW::restoreProfile)));
                  entries.push_back(item("Default", call(&MW::restoreFactoryDefaults)));
                  return entries;
              }(),
              measurementScreen),
        plain(M::SystemErrors, "System\nErrors", M::None,
              {item("Refresh", call(&MW::refreshErrorPanel)), item("Clear\nOldest", call(&MW::clearOldestError)),
               item("Clear\nAll", call(&MW::clearAllErrors))},
              measurementScreen),
        keypadPage(M::ChangeIpAddress, "Change\nIP Addr", hideKeypad),
        keypadPage(M::ChangeNetmask, "Change\nNetmask", hideKeypad),
        keypadPage(M::ChangeGateway, "Change\nGateway", hideKeypad),
        keypadPage(M::ChangeDns, "Change\nDNS #1", hideKeypad),
        perChannel(keypadPage(M::CorrectedFullScale, "Channel %d\nCorrected\nFull Scale", hideKeypadAndMeasure)),
        perChannel(keypadPage(M::UncorrectedFullScale, "Channel %d\nUncorr\nFull Scale", hideKeypadAndMeasure)),
        keypadPage(M::VectorSumFullScale, "Vect Sum\nOutput\nFull Scale", hideKeypadAndMeasure),
        keypadPage(M::EngineerPassword, "Engineer\nPassword", {call(&MW::leavePasswordPanel)}),

        // ---- Engineering
        radio(M::Demo, "Demo", kMarkFromDemoMarker, M::Engineer,
              {item("Normal\nMode", call(&MW::setNormalMode)), item("Demo\nMode", call(&MW::setDemoMode))}),
        radio(M::PowerOn, "Power On\nOptions", kMarkFromModel, M::None,
              {item("Standby at\nPower On", with(&MW::setPowerOnMode, 0)),
               item("Run at\nPower On", with(&MW::setPowerOnMode, 1))}),
    };
}

}  // namespace

const std::vector<MenuSpec>& menus() {
    static const std::vector<MenuSpec> table = buildTable();
    return table;
}

const MenuSpec& menu(MenuId id) {
    for (const MenuSpec& spec : menus())
        if (spec.id == id) return spec;
    throw std::out_of_range("no such menu");
}

std::string format(const char* text, int channel) {
    if (!std::strstr(text, "%d")) return text;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, text, channel);
    return buffer;
}

}  // namespace menutree
