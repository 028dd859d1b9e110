// Stand-ins for MainWindow functions that are still being written.
#include "frontpanel/MainWindow.h"

void MainWindow::promptUsbFirmwareUpdate() {}  // stub until FirmwareUpdateDisplay lands
void MainWindow::promptInternetFirmwareUpdate() {}  // stub until FirmwareUpdateDisplay lands
void MainWindow::promptCorrScaling1() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::promptCorrScaling2() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::promptCorrScaling3() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::promptUncorrScaling1() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::promptUncorrScaling2() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::promptUncorrScaling3() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::promptVsumScaling() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::updateFirmwareFromInternet() {}  // stub until FirmwareUpdateDisplay lands
void MainWindow::updateFirmwareFromUsb() {}  // stub until FirmwareUpdateDisplay lands
void MainWindow::applyRs232Settings() {}  // stub until RS232ConfigDisplay lands
void MainWindow::applyGpibSettings() {}  // stub until GpibConfigDisplay lands
void MainWindow::toggleNetworkAddressMode() {}  // stub until NetworkConfigDisplay lands
void MainWindow::applyNetworkConfig() {}  // stub until NetworkConfigDisplay lands
void MainWindow::applyCorrScaling1() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::applyCorrScaling2() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::applyCorrScaling3() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::applyUncorrScaling1() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::applyUncorrScaling2() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::applyUncorrScaling3() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::applyVsumScaling() {}  // stub until AnalogOutScalingDisplay lands
void MainWindow::showRs232Panel() {}  // stub until RS232ConfigDisplay lands
void MainWindow::showFirmwareUpdatePanel() {}  // stub until FirmwareUpdateDisplay lands
void MainWindow::showProfilesPanel() {}  // stub until ProfilesDisplay lands
void MainWindow::showDateTimePanel() {}  // stub until DateTimeDisplay lands
