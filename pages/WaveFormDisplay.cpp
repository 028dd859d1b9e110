#include "pages/WaveFormDisplay.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "ranges/RangeSpec.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

using readout::formatNumber;

namespace {

const unsigned kSlotColors[3] = {fl_rgb_color(0, 255, 255), fl_rgb_color(255, 16, 140), fl_rgb_color(0, 239, 0)};
const unsigned kGridColor = FL_WHITE;
const unsigned kMarkerColor = FL_RED;
const unsigned kFooterColor = FL_YELLOW;
constexpr int kFont = FL_COURIER;
constexpr int kSize = 16;
constexpr float kHeaderCentres[3] = {10.0f, 28.0f, 46.0f};
constexpr double kFarOff = 1.0e6;   // pixels beyond the plot

unsigned slotColor(int slot) { return kSlotColors[(slot == 1 || slot == 3 ? slot : 2) - 1]; }

float rightOf(const TextBlock& b) { return b.getX() + b.getWidth(); }

// Liang-Barsky: cuts the segment a-b to the rectangle.  False when nothing of
// it lies inside; startCut / endCut tell whether an end was moved.
bool clipSegment(double& ax, double& ay, double& bx, double& by, const WaveFormDisplay::Plot& p, bool& startCut,
                 bool& endCut) {
    const double dx = bx - ax, dy = by - ay;
    double t0 = 0.0, t1 = 1.0;
    auto edge = [&](double q, double r) {
        if (q == 0.0) return r >= 0.0;
        const double t = r / q;
        if (q < 0.0) {
            if (t > t1) return false;
            if (t > t0) t0 = t;
        } else {
            if (t < t0) return false;
            if (t < t1) t1 = t;
        }
        return true;
    };
    if (!edge(-dx, ax - p.left) || !edge(dx, p.right() - ax) || !edge(-dy, ay - p.top) || !edge(dy, p.bottom() - ay))
        return false;
    startCut = t0 > 0.0;
    endCut = t1 < 1.0;
    const double x0 = ax, y0 = ay;
    if (endCut) {
        bx = x0 + t1 * dx;
        by = y0 + t1 * dy;
    }
    if (startCut) {
        ax = x0 + t0 * dx;
        ay = y0 + t0 * dy;
    }
    return true;
}

}  // namespace

WaveFormDisplay::WaveFormDisplay(int x, int y, int w, int h, const char* label)
    : Fl_Widget(x, y, w, h, label), meter(MeterModel::instance()), capture(std::make_unique<WaveformBuffer>()) {
    for (unsigned slot = 1; slot <= 3; ++slot) channels[slot - 1] = meter->getChannel(slot);
    const int announced = meter->getTriggerChannel();
    triggerChannel = announced == 1 || announced == 3 ? announced : 2;

    // The cells, placed once from the construction geometry.
    const float left = static_cast<float>(x) + textLeftMargin;
    const float right = static_cast<float>(x + w) - textRightMargin;
    cells.reserve(kCellCount);
    auto add = [&](unsigned color, int chars, float centre, float at, int alignment = 0) -> TextBlock& {
        cells.emplace_back(color, backgroundColor, kFont, kSize, chars, centre, at, alignment);
        return cells.back();
    };
    for (int slot = 1; slot <= 3; ++slot) {
        const unsigned color = slotColor(slot);
        const float centre = static_cast<float>(y) + headerTopMargin + kHeaderCentres[slot - 1];
        const TextBlock& labelCell = add(color, 3, centre, left);
        const TextBlock& range = add(color, 11, centre, rightOf(labelCell));
        const TextBlock& reading = add(color, 7, centre, rightOf(range));
        const TextBlock& unit = add(color, 4, centre, rightOf(reading) + 2.0f);
        add(color, 10, centre, rightOf(unit) + 10.0f);
        add(color, 13, centre, right, 1);
    }
    const float row1 = static_cast<float>(y + h - 30);
    add(kFooterColor, 23, row1, left);
    add(kFooterColor, 20, row1, right, 1);
    const float row2 = static_cast<float>(y + h - 10);
    const int row2Chars[8] = {4, 3, 6, 3, 1, 7, 4, 9};
    const float row2Gaps[8] = {0.0f, 10.0f, 10.0f, 10.0f, 10.0f, 2.0f, 2.0f, 10.0f};
    for (int i = 0; i < 8; ++i)
        add(kFooterColor, row2Chars[i], row2, i == 0 ? left : rightOf(cells.back()) + row2Gaps[i]);
    const float rateRow = static_cast<float>(y + h - 60);
    const TextBlock& rateValue = add(kFooterColor, 4, rateRow, right - 5.0f, 1);
    add(kFooterColor, 10, rateRow, rateValue.getX() - 5.0f, 1);
    applyTriggerColour();

    // Slot by slot, five connections each; then readings and modes, then
    // the meter's.
    for (int slot = 1; slot <= 3; ++slot) {
        ChannelModel* m = channels[slot - 1];
        if (!m) continue;
        auto full = [](WaveFormDisplay& v, auto...) { gui::redraw(&v, FL_DAMAGE_ALL); };
        m->signalFluxUnitsChanged().connect(gate.slot<int, int>(full));
        m->signalRangeChanged().connect(gate.slot<int, int>(full));
        m->signalWaveformScaleChanged().connect(gate.slot<int, int>(full));
        m->signalTriggerLevelChanged().connect(
            gate.slot<int, bool, float>([](WaveFormDisplay& v, int channel, bool, float) { v.onTriggerLevelChanged(channel); }));
        m->signalChannelStatusChanged().connect(gate.slot<int, int>([](WaveFormDisplay& v, int channel, int) {
            if (channel >= 1 && channel <= 3) gui::redraw(&v, static_cast<unsigned char>(1 << (channel - 1)));
        }));
    }
    for (int slot = 1; slot <= 3; ++slot)
        if (channels[slot - 1])
            channels[slot - 1]->signalNewReading().connect(
                gate.repaint<int, float, float, float, float, float, int>(static_cast<unsigned char>(1 << (slot - 1))));
    for (int slot = 1; slot <= 3; ++slot)
        if (channels[slot - 1])
            channels[slot - 1]->signalModeChanged().connect(
                gate.repaint<int, int, int>(static_cast<unsigned char>(1 << (slot - 1))));
    meter->signalTimebaseChanged().connect(gate.repaint<int>(FL_DAMAGE_ALL));
    meter->signalTriggerModeChanged().connect(gate.repaint<int>(FL_DAMAGE_ALL));
    meter->signalTriggerSlopeChanged().connect(gate.repaint<int>(FL_DAMAGE_ALL));
    meter->signalTriggerChannelChanged().connect(
        gate.slot<int>([](WaveFormDisplay& v, int slot) { v.onTriggerChannelChanged(slot); }));
    meter->signalAcquisitionStateChanged().connect(gate.repaint<int>(0x20));
    meter->signalWaveformReady().connect(gate.repaint<>(readout::kDamageReading));
}

WaveFormDisplay::~WaveFormDisplay() { gate.close(); }

// ---- Slots (any thread) ----------------------------------------------------------------

void WaveFormDisplay::onTriggerChannelChanged(int slot) {
    triggerChannel = slot == 1 || slot == 3 ? slot : 2;
    gui::redraw(this, FL_DAMAGE_ALL);
}

void WaveFormDisplay::onTriggerLevelChanged(int channel) {
    if (channel == meter->getTriggerChannel()) gui::redraw(this, FL_DAMAGE_ALL);
}

// ---- Drawing (GUI thread) ---------------------------------------------------------------

ChannelModel* WaveFormDisplay::triggerModel() const { return channels[triggerChannel - 1]; }

void WaveFormDisplay::applyTriggerColour() {
    const int slot = triggerChannel;
    if (slot == colouredFor) return;
    for (int c = kTriggerLabel; c <= kAcquisitionState; ++c) cells[c].setTextColor(slotColor(slot));
    colouredFor = slot;
}

WaveFormDisplay::Plot WaveFormDisplay::plot() const {
    return {static_cast<float>(x()) + plotLeftMargin, static_cast<float>(y()) + plotTopMargin,
            static_cast<float>(w()) - plotLeftMargin - plotRightMargin - 4.0f,
            static_cast<float>(h()) - plotTopMargin - plotBottomMargin - 4.0f};
}

void WaveFormDisplay::draw() {
    fl_push_clip(x(), y(), w(), h());
    if (damage() & FL_DAMAGE_ALL) {
        drawAll();
    } else {
        for (int slot = 1; slot <= 3; ++slot)
            if (damage() & (1 << (slot - 1))) drawChannelHeader(slot);
        if (damage() & readout::kDamageReading) drawPlot();
        if (damage() & 0x20) drawAcquisitionState();
    }
    fl_pop_clip();
}

void WaveFormDisplay::drawAll() {
    applyTriggerColour();
    fl_color(backgroundColor);
    fl_rectf(x(), y(), w(), h());
    for (TextBlock& c : cells) c.markCleared();

    char text[128];
    std::snprintf(text, sizeof text, "Time Base: %s", meter->getTimebasePerDivText().c_str());
    cells[kTimeBase].drawText(0, text);
    cells[kFilter].drawText(0, channels[1] ? readout::filterText(channels[1]->getFreqRange()) : "");
    cells[kTriggerLabel].drawText(0, "Trig");
    if (meter->isThreeChannelModel()) {
        std::snprintf(text, sizeof text, "CH%d", meter->getTriggerChannel());
        cells[kTriggerChannel].drawText(0, text);
    }
    static const char* const kModes[] = {"Free", "Auto", "Repeat", "Single"};
    const int mode = meter->getTriggerMode();
    if (mode >= 0 && mode <= 3) cells[kTriggerMode].drawText(0, kModes[mode]);
    drawTriggerLevel();
    drawTriggerSlope();
    drawAcquisitionState();
    drawPlot();
}

void WaveFormDisplay::drawHorizontalGridLine(unsigned color, float l, float, float w, float, float at) {
    fl_color(color);
    fl_begin_line();
    fl_vertex(l, at);
    fl_vertex(l + w, at);
    fl_end_line();
}

void WaveFormDisplay::drawVerticalGridLine(unsigned color, float, float t, float, float h, float at) {
    fl_color(color);
    fl_begin_line();
    fl_vertex(at, t);
    fl_vertex(at, t + h);
    fl_end_line();
}

void WaveFormDisplay::drawPlot() {
    const Plot p = plot();
    fl_color(backgroundColor);
    fl_rectf(static_cast<int>(p.left), static_cast<int>(p.top), static_cast<int>(p.width), static_cast<int>(p.height));

    fl_line_style(FL_DASH, 1);
    for (int k = 1; k <= 4; ++k) {
        const float d = p.height * static_cast<float>(k) * 0.125f;
        drawHorizontalGridLine(kGridColor, p.left, p.top, p.width, p.height, p.centreY() - d);
        drawHorizontalGridLine(kGridColor, p.left, p.top, p.width, p.height, p.centreY() + d);
    }
    for (int k = 1; k <= 5; ++k) {
        const float d = p.width * static_cast<float>(k) / 10.0f;
        drawVerticalGridLine(kGridColor, p.left, p.top, p.width, p.height, p.centreX() - d);
        drawVerticalGridLine(kGridColor, p.left, p.top, p.width, p.height, p.centreX() + d);
    }
    drawHorizontalGridLine(centreLineColor, p.left, p.top, p.width, p.height, p.centreY());
    drawVerticalGridLine(centreLineColor, p.left, p.top, p.width, p.height, p.centreX());
    fl_line_style(0);

    fl_push_clip(static_cast<int>(p.left), static_cast<int>(p.top), static_cast<int>(p.width), static_cast<int>(p.height));
    for (int slot = 1; slot <= 3; ++slot) drawTrace(slot, slotColor(slot), p.left, p.top, p.width, p.height);
    fl_pop_clip();

    markerShown = false;
    const int mode = meter->getTriggerMode();
    if (mode == 2 || mode == 3) drawTriggerMarker(meter->getTriggerChannel());

    for (int slot : {1, 3, 2}) drawChannelHeader(slot);
    drawTriggerRate();
}

WaveFormDisplay::Polylines WaveFormDisplay::tracePolylines(const WaveformBuffer& capture, float division,
                                                           const Plot& p) {
    Polylines out;
    int count = capture.count;
    if (count > WaveformBuffer::kCapacity) count = WaveformBuffer::kCapacity;
    const double fullScale = 4.0 * static_cast<double>(division);
    if (count < 2 || !(fullScale > 0.0) || !std::isfinite(fullScale)) return out;

    const double step = static_cast<double>(p.width) / (count - 1);
    const double centre = p.centreY();
    bool havePrevious = false;
    bool open = false;   // the last polyline goes on
    double px = 0.0, py = 0.0;
    for (int i = 0; i < count; ++i) {
        const double sx = p.left + step * i;
        double sy = centre - 0.5 * p.height * static_cast<double>(capture.samples[i]) / fullScale;
        if (!std::isfinite(sy)) {
            havePrevious = open = false;
            continue;
        }
        // Far off the plot a sample moves its line by less than a pixel
        // inside it; held there, the cut keeps its precision.
        sy = std::clamp(sy, p.top - kFarOff, p.bottom() + kFarOff);
        if (havePrevious) {
            double ax = px, ay = py, bx = sx, by = sy;
            bool startCut = false, endCut = false;
            if (clipSegment(ax, ay, bx, by, p, startCut, endCut)) {
                if (!open || startCut) out.push_back({{static_cast<float>(ax), static_cast<float>(ay)}});
                out.back().push_back({static_cast<float>(bx), static_cast<float>(by)});
                open = !endCut;
            } else {
                open = false;
            }
        }
        px = sx;
        py = sy;
        havePrevious = true;
    }
    return out;
}

void WaveFormDisplay::drawTrace(int slot, unsigned color, float l, float t, float w, float h) {
    Polylines& shown = traces[slot - 1];
    shown.clear();
    ChannelModel* m = channels[slot - 1];
    if (!m || m->getMode() != 1 || m->getChannelStatus() != kChannelProbeReady) return;
    // The completed capture, copied: the reader fills another buffer of the
    // ring meanwhile.
    *capture = m->getWaveformBuffer();
    shown = tracePolylines(*capture, m->getWaveformScaleValue(), {l, t, w, h});
    fl_color(color);
    fl_line_style(FL_SOLID, 2);
    for (const auto& line : shown) {
        fl_begin_line();
        for (const Point& v : line) fl_vertex(v.x, v.y);
        fl_end_line();
    }
    fl_line_style(0);
}

bool WaveFormDisplay::triggerMarker(float level, float division, const Plot& p, int pts[6]) {
    const float s = 4.0f * division;
    if (!std::isfinite(level) || !std::isfinite(s) || !(s > 0.0f)) return false;
    const float r = p.right();
    if (std::fabs(level) <= s) {
        const float yv = p.centreY() - 0.5f * p.height * level / s;
        const float v[6] = {r - 4.0f, yv, r + 2.0f, yv - 4.0f, r + 2.0f, yv + 4.0f};
        for (int i = 0; i < 6; ++i) pts[i] = static_cast<int>(v[i]);
    } else if (level > s) {
        const float v[6] = {r - 6.0f, p.top + 3.0f, r + 2.0f, p.top + 3.0f, r - 2.0f, p.top - 3.0f};
        for (int i = 0; i < 6; ++i) pts[i] = static_cast<int>(v[i]);
    } else {
        const float b = p.bottom();
        const float v[6] = {r - 6.0f, b - 3.0f, r + 2.0f, b - 3.0f, r - 2.0f, b + 3.0f};
        for (int i = 0; i < 6; ++i) pts[i] = static_cast<int>(v[i]);
    }
    return true;
}

void WaveFormDisplay::drawTriggerMarker(int slot) {
    if (slot < 1 || slot > 3 || !channels[slot - 1]) return;
    ChannelModel* m = channels[slot - 1];
    int pts[6];
    if (!triggerMarker(m->getTriggerLevel(), m->getWaveformScaleValue(), plot(), pts)) return;
    fl_color(kMarkerColor);
    fl_polygon(pts[0], pts[1], pts[2], pts[3], pts[4], pts[5]);
    markerShown = true;
    std::memcpy(markerPoints, pts, sizeof markerPoints);
}

bool WaveFormDisplay::shownMarker(int points[6]) const {
    if (markerShown) std::memcpy(points, markerPoints, sizeof markerPoints);
    return markerShown;
}

void WaveFormDisplay::drawChannelHeader(int slot) {
    const bool three = meter->isThreeChannelModel();
    if (slot < 1 || slot > 3 || ((slot == 1 || slot == 3) && !three)) return;
    ChannelModel* m = channels[slot - 1];
    if (!m) return;
    auto at = [&](Cell c) -> TextBlock& { return cells[headerCell(slot, c)]; };
    char text[128];
    if (three) {
        std::snprintf(text, sizeof text, "CH%d", slot);
        at(kLabel).drawText(0, text);
    }
    if (m->getChannelStatus() != kChannelProbeReady || m->getMode() != 1) {
        at(kRange).drawText(0, m->getChannelStatus() != kChannelProbeReady ? ":NO PROBE" : ":DC MODE");
        for (Cell c : {kReading, kUnit, kScale, kFrequency}) at(c).drawBackground();
        return;
    }
    if (m->isOverRange()) {
        at(kRange).drawText(0, ":OVER");
        at(kReading).drawBackground();
        at(kUnit).drawBackground();
    } else {
        std::snprintf(text, sizeof text, "(%s):", m->getCurrentRangeName().c_str());
        at(kRange).drawText(0, text);
        at(kReading).drawText(1, formatNumber(text, m->getValueFormat(), m->getDisplayValue()));
        at(kUnit).drawText(0, m->getUnitName().c_str());
    }
    const ChannelModel::SignalFreqText signal = m->getSignalFreqText();
    char number[64];
    formatNumber(number, signal.format, signal.value);
    std::snprintf(text, sizeof text, "%s%s", number, signal.unit.c_str());
    at(kFrequency).drawText(1, text);
    at(kScale).drawText(1, m->getCurrentWaveformScaleText().c_str());
}

void WaveFormDisplay::drawTriggerLevel() {
    ChannelModel* m = triggerModel();
    if (!m) return;
    cells[kLevelSign].drawText(0, m->getTriggerLevel() < 0.0f ? "-" : "");
    char text[128];
    const float magnitude = std::fabs(m->getDisplayTriggerLevel());
    if (m->isEditingTriggerLevel()) {
        const RangeSpec* spec = m->getRangeSpec();
        const int decimals = spec ? spec->getDecimals() : 0;
        formatNumber(text, readout::editFormat(decimals), magnitude);
        const int index = readout::editHighlightIndex(static_cast<int>(std::strlen(text)), m->getEditSelectedDigit(),
                                                      decimals);
        cells[kLevel].drawTextWithHighlight(1, text, index < 0 ? 0 : index, index < 0 ? 0 : 1);
    } else {
        cells[kLevel].drawText(1, formatNumber(text, m->getValueFormat(), magnitude));
    }
    cells[kLevelUnit].drawText(0, m->getUnitName().c_str());
}

void WaveFormDisplay::drawTriggerSlope() {
    const int slope = meter->getTriggerSlope();
    if (slope == 0) cells[kSlope].drawText(0, "POS");
    else if (slope == 1) cells[kSlope].drawText(0, "NEG");
}

void WaveFormDisplay::drawAcquisitionState() {
    static const char* const kStates[] = {"Stopped", "Waiting", "Running"};
    const int state = meter->getAcquisitionState();
    if (state >= 0 && state <= 2) cells[kAcquisitionState].drawText(0, kStates[state]);
}

void WaveFormDisplay::drawTriggerRate() {
    cells[kRateLabel].drawText(0, "Trig/Sec:");
    char text[64];
    std::snprintf(text, sizeof text, "%0.1f", static_cast<double>(meter->getTriggerRate()));
    cells[kRateValue].drawText(1, text);
}
