#include <gtest/gtest.h>
#include <QPalette>

#include "platform/colors.h"
#include "platform/twips.h"

TEST(Colors, DirectAndSystemValues) {
    QPalette p;
    p.setColor(QPalette::Button, QColor(1, 2, 3));
    p.setColor(QPalette::ButtonText, QColor(4, 5, 6));
    p.setColor(QPalette::Base, QColor(7, 8, 9));
    p.setColor(QPalette::Text, QColor(10, 11, 12));
    const struct {
        quint32 value;
        QColor expected;
    } cases[] = {
        {0x000000FFu, QColor(255, 0, 0)},  // red lives in the low byte
        {0x00FF0000u, QColor(0, 0, 255)},     {0x00123456u, QColor(0x56, 0x34, 0x12)},
        {kButtonFace, QColor(1, 2, 3)},       {kButtonText, QColor(4, 5, 6)},
        {kWindowBackground, QColor(7, 8, 9)}, {kWindowText, QColor(10, 11, 12)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ColorFromValue(c.value, p), c.expected) << std::hex << c.value;
    }
    EXPECT_EQ(ValueFromColor(QColor(0x56, 0x34, 0x12)), 0x00123456u);
}

TEST(Twips, FifteenToAPixel) {
    const struct {
        double twips;
        int pixels;
    } cases[] = {{0, 0}, {15, 1}, {11415, 761}, {2580, 172}, {7.5, 1}, {-7.5, -1}, {277.5, 19}};
    for (const auto& c : cases) EXPECT_EQ(TwipsToPixels(c.twips), c.pixels) << c.twips;
}
