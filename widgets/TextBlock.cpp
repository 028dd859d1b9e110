#include "widgets/TextBlock.h"

#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

int textWidth(const char* text) {
    int w = 0, h = 0;
    fl_measure(text, w, h, 0);   // no '@' symbols: texts are drawn as they are
    return w;
}

// Confines the drawing of a text to the cell's columns, so that a text wider
// than its cell never leaves pixels beside it that the next, shorter text's
// clearing would miss; and to its rows, down to the descenders of the text
// drawn at baseline (the cell ends 2 pixels below the baseline, where the
// larger fonts' descenders reach further).  The font is set.
class CellClip {
public:
    CellClip(float x, float top, float width, float height, int baseline) {
        const int t = static_cast<int>(top);
        const int bottom = std::max(t + static_cast<int>(height), baseline + fl_descent());
        fl_push_clip(static_cast<int>(x), t, static_cast<int>(width), bottom - t);
    }
    ~CellClip() { fl_pop_clip(); }
    CellClip(const CellClip&) = delete;
    CellClip& operator=(const CellClip&) = delete;
};

}  // namespace

TextBlock::TextBlock(unsigned textColor, unsigned backgroundColor, int font, int size, int n,
                     float centreY, float x, int alignment)
    : textColor(textColor), backgroundColor(backgroundColor), font(font), size(size) {
    layout(n, centreY, x);
    if (alignment == 1) {
        this->x = x - width;
        textX = this->x;
    }
}

TextBlock::TextBlock(unsigned textColor, unsigned backgroundColor, int font, int size, int n,
                     float centreY, float x)
    : TextBlock(textColor, backgroundColor, font, size, n, centreY, x, 0) {}

TextBlock::~TextBlock() = default;

void TextBlock::setGeometry(int newSize, int n, float newCentreY, float leftX) {
    size = newSize;
    layout(n, newCentreY, leftX);
}

void TextBlock::layout(int n, float newCentreY, float leftX) {
    fl_open_display();
    fl_font(font, size);
    const int h = fl_height();
    const int d = fl_descent();
    centreY = static_cast<int>(newCentreY);
    top = static_cast<float>(centreY + d - 4 - h / 2);
    const std::string zeros(n > 0 ? static_cast<std::size_t>(n) : 0u, '0');
    width = static_cast<float>(textWidth(zeros.c_str()));
    height = static_cast<float>(h + 6 - 2 * d);
    baseline = static_cast<float>(centreY + h / 2 - d);
    x = leftX;
    textX = leftX;
}

void TextBlock::drawBackground() {
    fl_color(background());
    fl_rectf(static_cast<int>(x), static_cast<int>(top), static_cast<int>(width), static_cast<int>(height));
    fl_color(foreground());
    record("", 0, 0);
}

float TextBlock::alignedX(int alignment, int tw) const {
    switch (alignment) {
    case 1: return textX + width - static_cast<float>(tw);
    case 2: return textX + (width - static_cast<float>(tw)) * 0.5f;
    default: return textX;
    }
}

void TextBlock::drawText(int alignment, const char* text) {
    if (!text) text = "";
    drawBackground();
    fl_font(font, size);
    const int tw = textWidth(text);
    const CellClip clip(x, top, width, height, static_cast<int>(baseline));
    fl_color(foreground());
    fl_draw(text, static_cast<int>(alignedX(alignment, tw)), static_cast<int>(baseline));
    record(text, 0, 0);
}

void TextBlock::drawTextSized(int alignment, const char* text, int textSize) {
    if (!text) text = "";
    drawBackground();
    fl_font(font, textSize);
    const int tw = textWidth(text);
    const int y = centreY + fl_height() / 2 - fl_descent();
    const CellClip clip(x, top, width, height, y);
    fl_color(foreground());
    fl_draw(text, static_cast<int>(alignedX(alignment, tw)), y);
    record(text, 0, 0);
}

void TextBlock::drawTextWithHighlight(int alignment, const char* text, int start, int count) {
    if (!text) text = "";
    drawBackground();
    fl_font(font, size);
    const int tw = textWidth(text);
    const int length = static_cast<int>(std::strlen(text));
    // The run is cut to the text, so no piece reaches outside it.
    if (start < 0) start = 0;
    if (start > length) start = length;
    if (count < 0) count = 0;
    if (count > length - start) count = length - start;
    const int x0 = static_cast<int>(alignedX(alignment, tw));
    const int y = static_cast<int>(baseline);
    const CellClip clip(x, top, width, height, y);

    if (start > 0) {
        fl_color(foreground());
        fl_draw(text, start, x0, y);
    }
    if (count > 0) {
        const int cw = tw / length;
        const int hx = x0 + start * cw;
        fl_color(foreground());
        fl_rectf(hx, static_cast<int>(top), count * cw, static_cast<int>(height));
        fl_color(background());
        fl_draw(text + start, count, hx, y);
    }
    const int after = start + count;
    if (after < length) {
        fl_color(foreground());
        fl_draw(text + after, length - after, x0 + tw * after / length, y);
    }
    record(text, start, count);
}

void TextBlock::record(const char* text, int start, int count) {
    shown.assign(text);
    highlightStart = start;
    highlightCount = count;
}
