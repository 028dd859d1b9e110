#include "pages/VectorSumDisplay.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "ranges/RangeSpec.h"

#include <FL/fl_draw.H>

#include <cmath>
#include <cstdio>
#include <cstring>

using readout::formatNumber;

namespace {

struct Layout {
    int minHeight;
    int magnitude, unit, small, holdRow, holdTitle;
    int status;                        // a channel's status text, as its readout draws it
    float magnitudeX;                  // from the inner left edge
    float labelX[3], labelY[3];        // from the inner left / bottom edges
    float relativeX, relativeY;        // from the inner left edge; y from the top (fromTop) or bottom
    bool relativeFromTop;
    bool holdFromRight;
    float holdX, holdY, holdWidth, holdHeight;   // x from the left or right edge, y from the top
};

const Layout kLayouts[] = {
    {241, 68, 60, 24, 24, 16, 24, 10.0f, {20, 20, 20}, {-72, -48, -24}, 15, 300, true, true, -210, 300, 200, 140},
    {121, 55, 40, 16, 14, 12, 24, 10.0f, {20, 140, 260}, {-16, -16, -16}, 10, -32, false, false, 380, 50, 102, 86},
    {0, 42, 40, 12, 12, 12, 19, 60.0f, {20, 140, 260}, {-12, -12, -12}, 10, -24, false, false, 380, 29, 102, 70},
};

constexpr int kBlockChars[VectorSumDisplay::kBlockCount] = {8, 4, 2, 2, 2, 8, 8, 8, 6, 7, 4};

float trunc(float v) { return static_cast<float>(static_cast<int>(v)); }

}  // namespace

VectorSumDisplay::VectorSumDisplay(int x, int y, int w, int h, unsigned textColor, unsigned backgroundColor,
                                   const char* label)
    : Fl_Widget(x, y, w, h, label), textColor(textColor), backgroundColor(backgroundColor),
      smallFont(FL_COURIER), boldFont(FL_COURIER_BOLD),
      holdDisplay(0.0f, 0.0f, 0.0f, 0.0f, textColor, backgroundColor, 14, 12), meter(MeterModel::instance()) {
    blocks.reserve(kBlockCount);
    for (int b = 0; b < kBlockCount; ++b)
        blocks.emplace_back(textColor, backgroundColor, b <= kUnit ? boldFont : smallFont, 16, kBlockChars[b],
                            0.0f, 0.0f);
    layOut();

    auto change = [](VectorSumDisplay& d, auto...) { d.onChange(); };
    meter->signalVectorSumUpdated().connect(gate.slot<float, float, float, float>(change));
    meter->signalVectorSumHoldsChanged().connect(gate.slot<bool, bool, bool>(change));
    meter->signalAngleUnitsChanged().connect(gate.slot<int>(change));
    meter->signalVectorSumRelativeChanged().connect(gate.slot<int>(change));
    // A channel that loses or regains its reading makes the sum invalid or
    // valid again, also while no sum is computed.
    for (unsigned slot = 1; slot <= MeterModel::kSlotCount; ++slot)
        if (ChannelModel* ch = meter->getChannel(slot)) ch->signalChannelStatusChanged().connect(gate.slot<int, int>(change));
}

VectorSumDisplay::~VectorSumDisplay() { gate.close(); }

void VectorSumDisplay::onChange() { gui::redraw(this, FL_DAMAGE_ALL); }

void VectorSumDisplay::resize(int nx, int ny, int nw, int nh) {
    Fl_Widget::resize(nx, ny, nw, nh);
    layOut();
}

void VectorSumDisplay::layOut() {
    panel.fit(*this);
    const float innerLeft = panel.left, innerTop = panel.top, innerHeight = panel.height;
    const float right = panel.right();
    const float bottom = panel.bottom();

    layout = 0;
    while (h() < kLayouts[layout].minHeight) ++layout;
    const Layout& l = kLayouts[layout];

    const float middle = trunc(innerTop + 4.0f + innerHeight / 2.0f);
    blocks[kMagnitude].setGeometry(l.magnitude, kBlockChars[kMagnitude], middle, trunc(innerLeft + l.magnitudeX));
    blocks[kUnit].setGeometry(l.unit, kBlockChars[kUnit], middle,
                              trunc(blocks[kMagnitude].getX() + blocks[kMagnitude].getWidth() + 5.0f));
    // Each angle 2 pixels right of its label.
    for (int i = 0; i < 3; ++i) {
        TextBlock& label = blocks[kLabelX + i];
        label.setGeometry(l.small, kBlockChars[kLabelX + i], trunc(bottom + l.labelY[i]), trunc(innerLeft + l.labelX[i]));
        blocks[kAngleX + i].setGeometry(l.small, kBlockChars[kAngleX + i], trunc(bottom + l.labelY[i]),
                                        trunc(label.getX() + label.getWidth() + 2.0f));
    }
    // The relative label, value and unit, 2 pixels apart.
    float rx = trunc(innerLeft + l.relativeX);
    const float ry = trunc((l.relativeFromTop ? innerTop : bottom) + l.relativeY);
    for (int b : {kRelativeLabel, kRelativeValue, kRelativeUnit}) {
        blocks[b].setGeometry(l.small, kBlockChars[b], ry, rx);
        rx = trunc(blocks[b].getX() + blocks[b].getWidth() + 2.0f);
    }
    holdDisplay.setGeometry(trunc((l.holdFromRight ? right : innerLeft) + l.holdX), trunc(innerTop + l.holdY),
                            l.holdWidth, l.holdHeight, l.holdRow, l.holdTitle);
}

void VectorSumDisplay::draw() {
    fl_push_clip(x(), y(), w(), h());
    drawPanel();
    fl_pop_clip();
}

void VectorSumDisplay::drawPanel() {
    fl_color(FL_BLACK);
    fl_rectf(x(), y(), w(), h());
    for (TextBlock& b : blocks) b.markCleared();
    holdsShown = false;

    std::snprintf(title, sizeof title, "%s", meter->isDemoMode() ? "Vector Sum - Demo Mode" : "Vector Sum");
    panel.draw(textColor, backgroundColor, title);

    // No sum while a channel has no reading: the readout says why, as that
    // channel's readout does, and shows no angles.
    if (const ChannelModel* missing = meter->channelWithoutReading()) {
        blocks[kMagnitude].drawTextSized(2, readout::noReadingText(*missing), kLayouts[layout].status);
        return;
    }

    char text[128];
    const std::string format = meter->getVectorSumValueFormat();
    const std::string unit = meter->getVectorSumUnitName();
    blocks[kMagnitude].drawText(1, formatNumber(text, format, meter->getVectorSumDisplayValue()));
    blocks[kUnit].drawText(0, unit.c_str());

    blocks[kLabelX].drawText(2, "X:");
    blocks[kLabelY].drawText(2, "Y:");
    blocks[kLabelZ].drawText(2, "Z:");
    // One consistent set of angles; the unit text follows the number.
    const std::vector<float> sum = meter->getVectorSumAndAngles();
    const std::string angleFormat = meter->getAngleFormat();
    const char* angleUnit = meter->getAngleUnitText();
    for (int i = 0; i < 3; ++i) {
        char number[64];
        formatNumber(number, angleFormat, sum[1 + i]);
        std::snprintf(text, sizeof text, "%s%s", number, angleUnit);
        blocks[kAngleX + i].drawText(1, text);
    }

    const int relative = meter->getVectorSumRelativeState();
    if (relative != 0) {
        // The sign comes from the stored offset; while the offset is being
        // entered, from the entry.
        const bool editing = relative == 3;
        const bool negative = editing ? meter->isEditValueNegative() : meter->getVectorSumRelativeOffset() < 0.0f;
        blocks[kRelativeLabel].drawText(0, negative ? "Rel: -" : "Rel: ");
        const float magnitude = std::fabs(meter->getVectorSumRelativeOffsetDisplayValue());
        if (editing) {
            const RangeSpec* spec = meter->getVectorSumRangeSpec();
            const int decimals = spec ? spec->getDecimals() : 0;
            formatNumber(text, readout::editFormat(decimals), magnitude);
            const int at = readout::editHighlightIndex(static_cast<int>(std::strlen(text)),
                                                       meter->getEditSelectedDigit(), decimals);
            blocks[kRelativeValue].drawTextWithHighlight(1, text, at < 0 ? 0 : at, at < 0 ? 0 : 1);
        } else {
            blocks[kRelativeValue].drawText(1, formatNumber(text, format, magnitude));
        }
        blocks[kRelativeUnit].drawText(0, unit.c_str());
    }

    if (meter->isVectorSumHoldActive()) {
        holdDisplay.drawFrame();
        holdsShown = true;
    }
}
