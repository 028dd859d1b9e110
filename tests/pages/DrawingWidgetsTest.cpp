// Text cells and the progress bar, drawn in a window under Xvfb and read
// back pixel by pixel.
#include "PagesTestSupport.h"

#include "widgets/LightweightProgressBar.h"
#include "widgets/TextBlock.h"

#include <FL/fl_draw.H>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace pagestest;

namespace {

const unsigned kText = rgb(0, 255, 255);
const unsigned kBack = FL_BLACK;
const unsigned kFrame = rgb(200, 0, 0);   // what surrounds the cell

class DrawingWidgets : public ::testing::Test {
protected:
    void SetUp() override { screen.show(); }
    // Paints fn over a background of kFrame and returns the pixels of the
    // rectangle.
    std::vector<unsigned char> drawn(const std::function<void()>& fn, int x, int y, int w, int h) {
        return screen.paintOffscreen(
            [&] {
                fl_color(kFrame);
                fl_rectf(0, 0, 640, 480);
                fn();
            },
            x, y, w, h);
    }
    // Columns (relative to x) holding any pixel of colour c in the rows.
    std::vector<int> columnsOf(const std::vector<unsigned char>& rgb, int w, int h, unsigned c) {
        std::vector<int> cols;
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y)
                if (pixelAt(rgb, w, x, y) == rgbOf(c)) {
                    cols.push_back(x);
                    break;
                }
        return cols;
    }
    Screen screen;
};

TEST_F(DrawingWidgets, CellGeometryFollowsTheFontAndTheAlignment) {
    TextBlock left(kText, kBack, FL_COURIER, 20, 5, 100.7f, 10.5f);
    fl_font(FL_COURIER, 20);
    const int h = fl_height(), d = fl_descent();
    EXPECT_EQ(left.getCentreY(), 100);
    EXPECT_FLOAT_EQ(left.getY(), static_cast<float>(100 + d - 4 - h / 2));
    EXPECT_FLOAT_EQ(left.getHeight(), static_cast<float>(h + 6 - 2 * d));
    EXPECT_FLOAT_EQ(left.getBaseline(), static_cast<float>(100 + h / 2 - d));
    EXPECT_FLOAT_EQ(left.getWidth(), static_cast<float>(static_cast<int>(fl_width("00000"))));
    EXPECT_FLOAT_EQ(left.getX(), 10.5f);

    // Alignment 1 takes the position as the right edge.
    TextBlock right(kText, kBack, FL_COURIER, 20, 5, 100.0f, 500.0f, 1);
    EXPECT_FLOAT_EQ(right.getX(), 500.0f - right.getWidth());
    EXPECT_FLOAT_EQ(right.getTextX(), right.getX());

    // Re-laid out by a resize: new size, new place, left edge given.
    right.setGeometry(40, 3, 50.0f, 7.0f);
    fl_font(FL_COURIER, 40);
    EXPECT_FLOAT_EQ(right.getX(), 7.0f);
    EXPECT_FLOAT_EQ(right.getWidth(), static_cast<float>(static_cast<int>(fl_width("000"))));
    EXPECT_EQ(right.getSize(), 40);
}

TEST_F(DrawingWidgets, TextsAreClearedAndPlacedByAlignment) {
    TextBlock cell(kText, kBack, FL_COURIER, 20, 8, 60.0f, 100.0f);
    const int cx = static_cast<int>(cell.getX()), cy = static_cast<int>(cell.getY());
    const int cw = static_cast<int>(cell.getWidth()), ch = static_cast<int>(cell.getHeight());
    struct Case {
        int alignment;
        bool inLeftHalf, inRightHalf;
    } cases[] = {{0, true, false}, {1, false, true}, {2, true, true}, {7, true, false}};
    for (const Case& c : cases) {
        auto rgb = drawn([&] { cell.drawText(c.alignment, "00"); }, cx, cy, cw, ch);
        const auto cols = columnsOf(rgb, cw, ch, kText);
        ASSERT_FALSE(cols.empty()) << c.alignment;
        EXPECT_EQ(cols.front() < cw / 2, c.inLeftHalf) << c.alignment;
        EXPECT_EQ(cols.back() >= cw / 2, c.inRightHalf) << c.alignment;
        // The cell was cleared: no pixel of what lay under it is left.
        EXPECT_TRUE(columnsOf(rgb, cw, ch, kFrame).empty()) << c.alignment;
        EXPECT_EQ(cell.shownText(), "00");
    }
    drawn([&] { cell.drawBackground(); }, cx, cy, cw, ch);
    EXPECT_EQ(cell.shownText(), "");
}

TEST_F(DrawingWidgets, HighlightSwapsTheColoursOfTheRunOnly) {
    TextBlock cell(kText, kBack, FL_COURIER, 20, 7, 60.0f, 100.0f);
    const int cx = static_cast<int>(cell.getX()), cy = static_cast<int>(cell.getY());
    const int cw = static_cast<int>(cell.getWidth()), ch = static_cast<int>(cell.getHeight());
    fl_font(FL_COURIER, 20);
    const int charWidth = static_cast<int>(fl_width("0000000")) / 7;

    // The run's box is filled with the text colour; the top row of every
    // other character stays background.
    auto rgb = drawn([&] { cell.drawTextWithHighlight(1, "0012.34", 2, 1); }, cx, cy, cw, ch);
    for (int i = 0; i < 7; ++i) {
        const Rgb top = pixelAt(rgb, cw, i * charWidth + charWidth / 2, 1);
        EXPECT_EQ(top == rgbOf(kText), i == 2) << "character " << i;
    }
    EXPECT_EQ(cell.shownHighlightStart(), 2);
    EXPECT_EQ(cell.shownHighlightCount(), 1);

    // Inverted: the cell in the text colour, the run in the normal colours.
    cell.setInverted(true);
    rgb = drawn([&] { cell.drawTextWithHighlight(1, "0012.34", 2, 1); }, cx, cy, cw, ch);
    for (int i = 0; i < 7; ++i) {
        const Rgb top = pixelAt(rgb, cw, i * charWidth + charWidth / 2, 1);
        EXPECT_EQ(top == rgbOf(kBack), i == 2) << "inverted character " << i;
    }
    cell.setInverted(false);
}

TEST_F(DrawingWidgets, HighlightRunsOutsideTheTextAreCutToIt) {
    TextBlock cell(kText, kBack, FL_COURIER, 20, 7, 60.0f, 100.0f);
    const int cx = static_cast<int>(cell.getX()), cy = static_cast<int>(cell.getY());
    const int cw = static_cast<int>(cell.getWidth()), ch = static_cast<int>(cell.getHeight());
    struct Case {
        const char* text;
        int start, count;
        int shownStart, shownCount;
    } cases[] = {
        {"123", 2, 10, 2, 1},  {"123", -3, 2, 0, 2}, {"123", 5, 1, 3, 0},
        {"123", 0, -4, 0, 0},  {"", 0, 1, 0, 0},     {"123", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        drawn([&] { cell.drawTextWithHighlight(1, c.text, c.start, c.count); }, cx, cy, cw, ch);
        EXPECT_EQ(cell.shownText(), c.text);
        EXPECT_EQ(cell.shownHighlightStart(), c.shownStart) << c.text << " " << c.start << " " << c.count;
        EXPECT_EQ(cell.shownHighlightCount(), c.shownCount) << c.text << " " << c.start << " " << c.count;
    }
    // A text longer than any fixed piece buffer, with its run far into it.
    const std::string longText(300, '7');
    drawn([&] { cell.drawTextWithHighlight(0, longText.c_str(), 250, 40); }, cx, cy, cw, ch);
    EXPECT_EQ(cell.shownText(), longText);
    EXPECT_EQ(cell.shownHighlightCount(), 40);
}

TEST_F(DrawingWidgets, TextsLongerThanTheCellStayInsideIt) {
    // A 20-character line given 23 ("SIGNAL: 4999500.000 kHz"): whatever
    // the alignment and the way it is drawn, nothing lands beside the cell,
    // where the next, shorter text's clearing would not reach.
    TextBlock cell(kText, kBack, FL_COURIER, 16, 20, 60.0f, 100.0f);
    const int cx = static_cast<int>(cell.getX()), cy = static_cast<int>(cell.getY());
    const int cw = static_cast<int>(cell.getWidth()), ch = static_cast<int>(cell.getHeight());
    const int margin = 60;
    const char* const text = "SIGNAL: 4999500.000 kHz";
    const std::function<void()> draws[] = {
        [&] { cell.drawText(0, text); },
        [&] { cell.drawText(1, text); },
        [&] { cell.drawText(2, text); },
        [&] { cell.drawTextSized(0, text, 24); },
        [&] { cell.drawTextSized(1, text, 24); },
        [&] { cell.drawTextWithHighlight(0, text, 20, 3); },
        [&] { cell.drawTextWithHighlight(1, text, 0, 2); },
    };
    int n = 0;
    for (const auto& draw : draws) {
        const auto rgb = drawn(draw, cx - margin, cy, cw + 2 * margin, ch);
        const auto cols = columnsOf(rgb, cw + 2 * margin, ch, kText);
        ASSERT_FALSE(cols.empty()) << "draw " << n;
        EXPECT_GE(cols.front(), margin) << "draw " << n << " reaches left of the cell";
        EXPECT_LT(cols.back(), margin + cw) << "draw " << n << " reaches right of the cell";
        for (int y = 0; y < ch; ++y) {
            EXPECT_EQ(pixelAt(rgb, cw + 2 * margin, margin - 1, y), rgbOf(kFrame)) << "draw " << n;
            EXPECT_EQ(pixelAt(rgb, cw + 2 * margin, margin + cw, y), rgbOf(kFrame)) << "draw " << n;
        }
        ++n;
    }
}

TEST_F(DrawingWidgets, ProgressBarFillsItsShareAndNeverMore) {
    LightweightProgressBar bar(kText, kBack, 210.0f, 50.0f, 101.0f, 20.0f);
    EXPECT_FLOAT_EQ(bar.getY(), 200.0f);
    const int x = 40, y = 195, w = 130, h = 30;   // the bar with 10 pixels around it
    auto filled = [&](float percent) {
        auto rgb = drawn([&] { bar.draw(percent); }, x, y, w, h);
        // The filled columns along the bar's middle row, outline included.
        int count = 0;
        for (int i = 0; i < w; ++i)
            if (pixelAt(rgb, w, i, 15) == rgbOf(kText)) ++count;
        // Nothing outside the bar is touched.
        EXPECT_EQ(pixelAt(rgb, w, 9, 15), rgbOf(kFrame));
        EXPECT_EQ(pixelAt(rgb, w, 10 + 101, 15), rgbOf(kFrame));
        return count;
    };
    // Outline columns: the left and right edges.
    EXPECT_EQ(filled(0.0f), 2);
    EXPECT_EQ(filled(50.0f), 50 + 1);      // 50 filled, and the right edge
    EXPECT_EQ(filled(100.0f), 101);
    // A card's percentage beyond 0-100, or not a number, stays within the bar.
    EXPECT_EQ(filled(250.0f), 101);
    EXPECT_EQ(filled(-20.0f), 2);
    EXPECT_EQ(filled(std::numeric_limits<float>::quiet_NaN()), 2);
    EXPECT_EQ(bar.fillWidth(std::numeric_limits<float>::infinity()), 101);
}

}  // namespace
