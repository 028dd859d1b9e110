#include "pages/HoldDisplay.h"

#include "channel/ChannelModel.h"
#include "meter/MeterModel.h"
#include "pages/ReadoutSupport.h"

#include <FL/fl_draw.H>

#include <cstring>

HoldDisplay::HoldDisplay(float x, float y, float width, float height, unsigned textColor,
                         unsigned backgroundColor, int rowFontSize, int titleFontSize, int channel)
    : channel(channel), textColor(textColor), backgroundColor(backgroundColor),
      x(x), y(y), width(width), height(height), font(FL_COURIER),
      rowFontSize(rowFontSize), titleFontSize(titleFontSize) {}

HoldDisplay::~HoldDisplay() = default;

void HoldDisplay::setGeometry(float nx, float ny, float nw, float nh, int rowSize, int titleSize) {
    x = nx;
    y = ny;
    width = nw;
    height = nh;
    rowFontSize = rowSize;
    titleFontSize = titleSize;
}

void HoldDisplay::drawFrame() {
    fl_font(font, titleFontSize);
    int tw = 0, th = 0;
    fl_measure("Hold", tw, th, 0);
    fl_line_style(FL_SOLID, lineWidth);
    fl_color(textColor);
    readout::outlineRounded(x, y, width, height, cornerRadius, x + cornerRadius,
                            x + static_cast<float>(tw) + 10.0f);
    fl_line_style(0);
    fl_draw("Hold", static_cast<int>(x + 7.0f), static_cast<int>(y + static_cast<float>(th * 3 / 10)));
    clearShownRows();
    draw();
}

void HoldDisplay::drawRow(int row, const char* label, const char* value) {
    fl_font(font, rowFontSize);
    int lw = 0, lh = 0, vw = 0, vh = 0;
    fl_measure(label, lw, lh, 0);
    fl_measure(value, vw, vh, 0);
    fl_color(textColor);
    const int baseline = static_cast<int>(y + 5.0f + static_cast<float>(lh * (row + 1)));
    fl_draw(label, static_cast<int>(x + 5.0f), baseline);
    fl_draw(value, static_cast<int>(x + width - static_cast<float>(vw) - 2.0f), baseline);
    if (row >= 0 && row < 4) {
        std::strncpy(shown[row], value, sizeof shown[row] - 1);
        shown[row][sizeof shown[row] - 1] = '\0';
    }
}

const char* HoldDisplay::shownValue(int row) const { return row >= 0 && row < 4 ? shown[row] : ""; }

void HoldDisplay::clearShownRows() {
    for (auto& row : shown) row[0] = '\0';
}

void HoldDisplay::draw() {
    ChannelModel* model = MeterModel::instance()->getChannel(static_cast<unsigned>(channel));
    if (!model) return;
    const std::string format = model->getValueFormat();
    char value[128];
    const struct {
        const char* label;
        bool enabled;
        float value;
    } rows[4] = {
        {"Max:", model->isMaxHoldEnabled(), model->getDisplayMaxHoldValue()},
        {"Min:", model->isMinHoldEnabled(), model->getDisplayMinHoldValue()},
        {"Pk:", model->isPeakHoldEnabled(), model->getDisplayPeakHoldValue()},
        {"Val:", model->isValleyHoldEnabled(), model->getDisplayValleyHoldValue()},
    };
    for (int row = 0; row < 4; ++row) {
        if (!rows[row].enabled) continue;
        drawRow(row, rows[row].label, readout::formatNumber(value, format, rows[row].value));
    }
}

VectorSumHoldDisplay::VectorSumHoldDisplay(float x, float y, float width, float height, unsigned textColor,
                                           unsigned backgroundColor, int rowFontSize, int titleFontSize)
    : HoldDisplay(x, y, width, height, textColor, backgroundColor, rowFontSize, titleFontSize, 0) {}

void VectorSumHoldDisplay::draw() {
    MeterModel* meter = MeterModel::instance();
    const std::string format = meter->getVectorSumValueFormat();
    char value[128];
    if (meter->isVectorSumMaxHoldEnabled())
        drawRow(0, "Max:", readout::formatNumber(value, format, meter->getVectorSumMaxHoldDisplayValue()));
    if (meter->isVectorSumMinHoldEnabled())
        drawRow(1, "Min:", readout::formatNumber(value, format, meter->getVectorSumMinHoldDisplayValue()));
}
