#include "pages/AnalogOutScalingDisplay.h"

#include "channel/ChannelModel.h"
#include "channel/SettingRanges.h"
#include "meter/MeterModel.h"
#include "pages/FormText.h"

#include <FL/Fl_Input.H>

#include <cstdio>

AnalogOutScalingDisplay::AnalogOutScalingDisplay(int x, int y, int w, int h, const char* label)
    : Form(x, y, w, h, label) {
    addInput("Full Scale (V): ");
    addStatusBox();
    hideMessage();
    end();
}

void AnalogOutScalingDisplay::showScaling() {
    char text[32];   // room for any int / 10.0
    std::snprintf(text, sizeof text, "%0.1f", getScaling() / 10.0);
    getInput(0)->value(text);
    redraw();
}

void AnalogOutScalingDisplay::applySettings() {
    const int tenths = settingrange::fullScaleTenths(formtext::toFloat(getInput(0)->value()));
    if (tenths >= 0) setScaling(tenths);
}

AnalogOutCorrScalingDisplay::AnalogOutCorrScalingDisplay(ChannelModel* channel, int x, int y, int w, int h,
                                                         const char* label)
    : AnalogOutScalingDisplay(x, y, w, h, label), channelModel(channel) {
    channelModel->signalCdacScalingChanged().connect(lifeline.slot<int, int>([this] { showScaling(); }));
}
int AnalogOutCorrScalingDisplay::getScaling() { return channelModel->getCdacScaling(); }
void AnalogOutCorrScalingDisplay::setScaling(int tenths) { channelModel->setCdacScaling(tenths); }

AnalogOutUncorrScalingDisplay::AnalogOutUncorrScalingDisplay(ChannelModel* channel, int x, int y, int w, int h,
                                                             const char* label)
    : AnalogOutScalingDisplay(x, y, w, h, label), channelModel(channel) {
    channelModel->signalUdacScalingChanged().connect(lifeline.slot<int, int>([this] { showScaling(); }));
}
int AnalogOutUncorrScalingDisplay::getScaling() { return channelModel->getUdacScaling(); }
void AnalogOutUncorrScalingDisplay::setScaling(int tenths) { channelModel->setUdacScaling(tenths); }

AnalogOutVsumScalingDisplay::AnalogOutVsumScalingDisplay(int x, int y, int w, int h, const char* label)
    : AnalogOutScalingDisplay(x, y, w, h, label) {
    MeterModel::instance()->signalVectorSumOutputScalingChanged().connect(lifeline.slot<int>([this] { showScaling(); }));
}
int AnalogOutVsumScalingDisplay::getScaling() { return MeterModel::instance()->getVectorSumOutputScaling(); }
void AnalogOutVsumScalingDisplay::setScaling(int tenths) { MeterModel::instance()->setVectorSumOutputScaling(tenths); }
