#include "pages/DiagDisplay.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdio>

namespace {

// Where a row goes: its label at the column's left on the row's baseline,
// and the end of the column.
struct RowPlace {
    int labelX, baseline;
    float columnEnd;
};

RowPlace placeRow(const readout::Panel& frame, int column, int row, const char* label) {
    int lw = 0, lh = 0;
    fl_measure(label, lw, lh, 0);
    const float r = frame.cornerRadius;
    const float xL = frame.left + r + 4.0f + static_cast<float>(column) * frame.width * 0.5f;
    const float yb = frame.top + r + static_cast<float>(lh) + static_cast<float>(row * (lh + 1));
    return {static_cast<int>(xL), static_cast<int>(yb), xL + frame.width * 0.5f - 15.0f};
}

}  // namespace

DiagDisplay::DiagDisplay(int x, int y, int w, int h, unsigned textColor, unsigned backgroundColor, int channel,
                         const char* label)
    : Fl_Widget(x, y, w, h, label), channel(channel),
      model(MeterModel::instance()->getChannel(static_cast<unsigned>(channel))), textColor(textColor),
      backgroundColor(backgroundColor) {
    frame.fit(*this);
    if (model)
        model->signalNewReading().connect(gate.slot<int, float, float, float, float, float, int>(
            [](DiagDisplay& d, auto...) { d.onNewReading(); }));
    refreshTimer.signalTimeout().connect(gate.slot<>([](DiagDisplay& d) { d.onTimer(); }));
    refreshTimer.start();
}

DiagDisplay::~DiagDisplay() {
    gate.close();
    refreshTimer.stop();
}

void DiagDisplay::onNewReading() { gui::redraw(this, readout::kDamageReading); }
void DiagDisplay::onTimer() { gui::redraw(this, readout::kDamageReading); }

void DiagDisplay::resize(int nx, int ny, int nw, int nh) {
    Fl_Widget::resize(nx, ny, nw, nh);
    frame.fit(*this);
}

void DiagDisplay::draw() {
    fl_push_clip(x(), y(), w(), h());
    if (damage() & FL_DAMAGE_ALL) drawAll();
    else drawValues();
    fl_pop_clip();
}

void DiagDisplay::drawAll() {
    fl_color(backgroundColor);
    fl_rectf(x(), y(), w(), h());
    std::snprintf(title, sizeof title, "Channel %d Diag", channel);
    frame.draw(textColor, backgroundColor, title);
    drawValues();
}

void DiagDisplay::drawValues() {
    for (auto& column : shown)
        for (auto& row : column) row = Shown();
    const float r = frame.cornerRadius;
    fl_color(backgroundColor);
    fl_rectf(static_cast<int>(frame.left + 2.0f), static_cast<int>(frame.top + r), static_cast<int>(frame.width - 4.0f),
             static_cast<int>(frame.height - 2.0f * r));
    fl_color(textColor);
    fl_line_style(FL_SOLID, 2);
    const int divider = static_cast<int>(frame.left + frame.width * 0.5f);
    fl_line(divider, static_cast<int>(frame.top), divider, static_cast<int>(frame.bottom()));
    fl_line_style(0);
    if (!model) return;

    // The card sends the number of decimals: it is held to a sane precision.
    char format[16];
    std::snprintf(format, sizeof format, "%%0.%df", std::clamp(model->getDiagDecimals(), 0, readout::kMaxPrecision));
    char value[128];

    std::snprintf(value, sizeof value, "%6s", model->getCurrentRangeName().c_str());
    drawRow(0, 0, "Range:", value);
    readout::formatNumber(value, format, model->getDisplayValue());
    drawRowWithUnit(0, 1, "Reading:", value, model->getDiagUnitText().c_str());
    std::snprintf(value, sizeof value, "%0.1f", static_cast<double>(model->getBackplaneTemperature()));
    drawRowWithUnit(0, 2, "Temperature:", value, "C");
    std::snprintf(value, sizeof value, "%0.1f", static_cast<double>(model->getReceivedSampleRate()));
    drawRowWithUnit(0, 3, "Received:", value, "smp/s");
    std::snprintf(value, sizeof value, "%0.1f", static_cast<double>(model->getDisplayedSampleRate()));
    drawRowWithUnit(0, 4, "Displayed:", value, "smp/s");
    // The frequency in hertz, whatever the readout's time unit.
    std::snprintf(value, sizeof value, "%0.4f", static_cast<double>(model->getSignalFreqHz()));
    drawRowWithUnit(0, 5, "Frequency:", value, "Hz");

    drawRow(1, 0, "Probe Mod:", model->getProbeModel().c_str());
    drawRow(1, 1, "Probe Ser:", model->getProbeSerialNumber().c_str());
    drawRow(1, 2, "Probe Cal:", model->getProbeCalibrationDate().c_str());
    const int series = model->getProbeSeries();
    drawRow(1, 3, "Probe Series:", series == 1 ? "3700" : series == 2 ? "4700" : "Unknown");
    drawRow(1, 4, "Probe Hall Cur: ", model->getProbeHallCurrentLevel() == 1 ? "High" : "Low");
    // The probe's temperature in degrees Celsius, as its limits are.
    if (!model->hasProbeTemperatureSensor()) {
        std::snprintf(value, sizeof value, "N/A");
    } else {
        const float celsius = model->getProbe().getTemperature();
        if (celsius > 101.0f || celsius < -41.0f) std::snprintf(value, sizeof value, "Error");
        else std::snprintf(value, sizeof value, "%0.1f", static_cast<double>(celsius));
    }
    drawRowWithUnit(1, 5, "Probe Temp:", value, "C");
}

void DiagDisplay::drawRow(int column, int row, const char* label, const char* value) {
    fl_font(FL_COURIER, 14);
    fl_color(textColor);
    const RowPlace p = placeRow(frame, column, row, label);
    int vw = 0, vh = 0;
    fl_measure(value, vw, vh, 0);
    fl_draw(label, p.labelX, p.baseline);
    fl_draw(value, static_cast<int>(p.columnEnd - static_cast<float>(vw) - static_cast<float>(valueInset)), p.baseline);
    if (column >= 0 && column < 2 && row >= 0 && row < kRows) shown[column][row] = {value, ""};
}

void DiagDisplay::drawRowWithUnit(int column, int row, const char* label, const char* value, const char* unit) {
    fl_font(FL_COURIER, 14);
    fl_color(textColor);
    const RowPlace p = placeRow(frame, column, row, label);
    int vw = 0, vh = 0, xw = 0, xh = 0;
    fl_measure(value, vw, vh, 0);
    fl_measure("XXXXXXXXXX", xw, xh, 0);
    const float unitX = p.columnEnd - static_cast<float>(valueInset) - static_cast<float>(xw) / 2.0f;
    fl_draw(label, p.labelX, p.baseline);
    fl_draw(value, static_cast<int>(unitX - static_cast<float>(xw) / 20.0f - static_cast<float>(vw)), p.baseline);
    fl_draw(unit, static_cast<int>(unitX), p.baseline);
    if (column >= 0 && column < 2 && row >= 0 && row < kRows) shown[column][row] = {value, unit};
}
