// HoldDisplay: the small rounded frame titled "Hold" that a readout draws
// inside its own panel, with up to four rows of held values, each in a fixed
// place ("Max:", "Min:", "Pk:", "Val:"); a disabled hold leaves its row
// empty.  Not a widget: the owner calls drawFrame from its draw() and
// setGeometry from its resize().
//
// VectorSumHoldDisplay shows the vector sum's "Max:" and "Min:" rows.
#pragma once

#include <FL/Enumerations.H>

class HoldDisplay {
public:
    HoldDisplay(float x, float y, float width, float height, unsigned textColor, unsigned backgroundColor,
                int rowFontSize, int titleFontSize, int channel);
    virtual ~HoldDisplay();

    void setGeometry(float x, float y, float width, float height, int rowFontSize, int titleFontSize);
    // The frame with its title, then the rows (draw).
    void drawFrame();
    // The rows of the channel's enabled holds.
    virtual void draw();
    // One row (0-3): the label at the left, the value ending 2 pixels left of
    // the right edge.
    void drawRow(int row, const char* label, const char* value);

    float getX() const { return x; }
    float getY() const { return y; }
    float getWidth() const { return width; }
    float getHeight() const { return height; }
    int getRowFontSize() const { return rowFontSize; }
    int getTitleFontSize() const { return titleFontSize; }
    // The value text of each row as last drawn, "" for an empty row.
    const char* shownValue(int row) const;

protected:
    // Starts a drawing of the rows: every row empty.
    void clearShownRows();

    int channel;
    unsigned textColor;
    unsigned backgroundColor;
    float cornerRadius = 5.0f;
    float x, y, width, height;
    int font;
    int rowFontSize;
    int titleFontSize;
    int lineWidth = 1;
    char shown[4][32] = {};
};

class VectorSumHoldDisplay : public HoldDisplay {
public:
    VectorSumHoldDisplay(float x, float y, float width, float height, unsigned textColor,
                         unsigned backgroundColor, int rowFontSize, int titleFontSize);
    void draw() override;
};
