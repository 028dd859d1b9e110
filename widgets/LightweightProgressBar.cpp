#include "widgets/LightweightProgressBar.h"

#include <FL/fl_draw.H>

#include <cmath>

LightweightProgressBar::LightweightProgressBar(unsigned barColor, unsigned backgroundColor,
                                               float centreY, float x, float width, float height)
    : barColor(barColor), backgroundColor(backgroundColor) {
    setGeometry(centreY, x, width, height);
}

LightweightProgressBar::~LightweightProgressBar() = default;

void LightweightProgressBar::setGeometry(float centreY, float newX, float newWidth, float newHeight) {
    x = newX;
    top = centreY - 0.5f * newHeight;
    width = newWidth;
    height = newHeight;
}

int LightweightProgressBar::fillWidth(float percent) const {
    if (!(percent > 0.0f)) return 0;   // also not a number
    if (percent > 100.0f) percent = 100.0f;
    return static_cast<int>(percent * width / 100.0f);
}

void LightweightProgressBar::draw(float percent) {
    const int bx = static_cast<int>(x);
    const int by = static_cast<int>(top);
    const int bw = static_cast<int>(width);
    const int bh = static_cast<int>(height);
    fl_color(backgroundColor);
    fl_rectf(bx, by, bw, bh);
    fl_color(barColor);
    fl_rect(bx, by, bw, bh);
    const int fill = fillWidth(percent);
    if (fill > 0) fl_rectf(bx, by, fill, bh);
}
