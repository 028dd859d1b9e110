// Number formats of the readouts: formats from the models and the cards are
// held to a sane width and precision and never leave their buffers; the
// digit editor's format and highlight.
#include "pages/ReadoutSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ReadoutFormats, NumbersPrintWithinBoundsWhateverTheFormat) {
    struct Case {
        const char* format;
        double value;
        const char* text;
    } cases[] = {
        {"%4.2f", 3.14159, "3.14"},
        {"%07.2f", 12.34, "0012.34"},
        {"%2.3f", 1.5, "1.500"},
        {"%6.2fmT/div", 2.5, "  2.50mT/div"},
        {"%0.3f", -1.0, "-1.000"},
        {"100%% %3.1f", 7.0, "100% 7.0"},
        // Width and precision held to 12 and 9.
        {"%50.30f", 1.0, " 1.000000000"},
        {"%0.200f", 2.0, "2.000000000"},
        {"%099.1f", 3.0, "0000000003.0"},
        // Anything but one floating conversion prints with three decimals.
        {"%s", 1.25, "1.250"},
        {"%d", 1.25, "1.250"},
        {"%f %f", 1.25, "1.250"},
        {"%n", 1.25, "1.250"},
        {"no conversion", 1.25, "1.250"},
        {"%", 1.25, "1.250"},
        {"%4.2", 1.25, "1.250"},
    };
    for (const Case& c : cases) {
        char out[64];
        EXPECT_STREQ(readout::formatNumber(out, c.format, c.value), c.text) << c.format;
    }
    // A large value in a small buffer is cut, never overrun.
    char small[8];
    std::memset(small, 'x', sizeof small);
    readout::formatNumber(small, "%f", 1e30);
    EXPECT_EQ(std::strlen(small), 7u);
}

TEST(ReadoutFormats, EditFormatAndSelectedDigit) {
    EXPECT_EQ(readout::editFormat(2), "%07.2f");
    EXPECT_EQ(readout::editFormat(4), "%07.4f");
    EXPECT_EQ(readout::editFormat(9), "%07.5f");
    EXPECT_EQ(readout::editFormat(-3), "%07.0f");
    // "0012.34": digit 0 is the 4, digit 2 the 2 before the point, 3 the 1.
    struct Case {
        int length, selected, decimals, index;
    } cases[] = {
        {7, 0, 2, 6}, {7, 1, 2, 5}, {7, 2, 2, 3}, {7, 3, 2, 2}, {7, 5, 2, 0},
        {7, 6, 2, -1}, {7, -1, 2, -1}, {7, 0, 0, 6}, {7, 1, 0, 5}, {0, 0, 2, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readout::editHighlightIndex(c.length, c.selected, c.decimals), c.index)
            << c.length << " " << c.selected << " " << c.decimals;
}

}  // namespace
