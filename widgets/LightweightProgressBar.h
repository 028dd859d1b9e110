// LightweightProgressBar: a bar that a readout draws from its own draw() for
// a percentage: background fill, outline in the bar colour, and a fill of
// the percentage's share of the width.  Not a widget; it holds no toolkit
// object.  Float coordinates are truncated toward zero.
#pragma once

#include <FL/Enumerations.H>

class LightweightProgressBar {
public:
    LightweightProgressBar(unsigned barColor, unsigned backgroundColor, float centreY, float x,
                           float width, float height);
    virtual ~LightweightProgressBar();

    void setGeometry(float centreY, float x, float width, float height);
    // The fill covers percent x width / 100.  The percentage comes from the
    // card: it is held to 0-100 (not a number draws none), so the fill never
    // leaves the bar.
    void draw(float percent);

    float getX() const { return x; }
    float getY() const { return top; }
    float getWidth() const { return width; }
    float getHeight() const { return height; }
    // Width of the fill of a percentage, as draw() fills it.
    int fillWidth(float percent) const;

private:
    unsigned barColor;
    unsigned backgroundColor;
    float x = 0.0f;
    float top = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};
