// TextBlock: one text cell of a readout.  Not a widget: the readout owns it
// as a member and draws into it from its own draw().  The cell is sized for
// a number of "0" characters in its font and size, and knows how to clear
// itself and draw a text left-, right- or centre-aligned, optionally with a
// run of characters in swapped colours (the digit being edited).
//
// Geometry (the constructors and setGeometry), with H and D the height and
// descent of the font at its size:
//   top      = centre y + D - 4 - H / 2
//   height   = H + 6 - 2 D
//   baseline = centre y + H / 2 - D
//   width    = width of n zeros
// Float coordinates are truncated toward zero where the toolkit takes ints.
//
// Measuring and drawing need the toolkit's display: the constructors and
// setGeometry open it if needed; the draw operations run inside a widget's
// draw() on the GUI thread.
//
// Alignment: 0 left (from text x), 1 right (flush with text x + width),
// 2 centred in the width; any other value draws as 0.
//
// A text wider than its cell is cut at the cell's left and right edges:
// nothing is ever drawn beside a cell, where the next text's clearing would
// not reach.  Below, only the descenders of the text drawn pass the cell's
// bottom, which lies 2 pixels under the baseline.
//
// Colours are the toolkit's colour values (an index, or 0xRRGGBB00 for an
// RGB colour), kept as unsigned as the toolkit's widgets keep them: an RGB
// value lies outside the range of the toolkit's colour enumeration.
#pragma once

#include <FL/Enumerations.H>

#include <string>

class TextBlock {
public:
    // alignment 1 makes x the right edge of the cell; 0 and 2 the left edge.
    TextBlock(unsigned textColor, unsigned backgroundColor, int font, int size, int widthInChars,
              float centreY, float x, int alignment);
    TextBlock(unsigned textColor, unsigned backgroundColor, int font, int size, int widthInChars,
              float centreY, float x);
    virtual ~TextBlock();

    // New size and layout with x as the left edge (a readout's resize).
    void setGeometry(int size, int widthInChars, float centreY, float x);

    // Fills the cell with the background; the foreground stays the current
    // drawing colour.
    void drawBackground();
    // Clears the cell and draws text at the baseline.
    void drawText(int alignment, const char* text);
    // Clears the cell and draws text at another size, centred vertically on
    // the cell's centre line.
    void drawTextSized(int alignment, const char* text, int size);
    // Clears the cell and draws text with the characters [start, start +
    // count) in swapped colours.  A run reaching outside the text is cut to it.
    void drawTextWithHighlight(int alignment, const char* text, int start, int count);

    void setTextColor(unsigned color) { textColor = color; }
    unsigned getTextColor() const { return textColor; }
    unsigned getBackgroundColor() const { return backgroundColor; }
    // Inverted: the two colours swap roles everywhere.
    void setInverted(bool on) { inverted = on; }
    bool isInverted() const { return inverted; }

    float getX() const { return x; }
    float getY() const { return top; }
    float getWidth() const { return width; }
    float getHeight() const { return height; }
    float getTextX() const { return textX; }
    float getBaseline() const { return baseline; }
    int getCentreY() const { return centreY; }
    int getSize() const { return size; }
    int getFont() const { return font; }

    // What the cell shows now: the last text drawn, "" once cleared; the
    // highlighted run of the last highlighted text (count 0 when none).
    const std::string& shownText() const { return shown; }
    int shownHighlightStart() const { return highlightStart; }
    int shownHighlightCount() const { return highlightCount; }
    // The owner painted over the cell (a full repaint of its panel).
    void markCleared() { record("", 0, 0); }

private:
    void layout(int widthInChars, float centreY, float leftX);
    unsigned foreground() const { return inverted ? backgroundColor : textColor; }
    unsigned background() const { return inverted ? textColor : backgroundColor; }
    // Left x of a text of width tw for the alignment.
    float alignedX(int alignment, int tw) const;
    void record(const char* text, int start, int count);

    unsigned textColor;
    unsigned backgroundColor;
    bool inverted = false;
    int font;
    int size;
    int centreY = 0;
    float x = 0.0f;
    float top = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    float textX = 0.0f;
    float baseline = 0.0f;

    std::string shown;
    int highlightStart = 0;
    int highlightCount = 0;
};
