// RGB and HLS, CMY and the packed colour words.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "colour/Tclrutil.h"

using namespace quillor;

TEST(Conversion, RgbToHlsOfDocumentedColours) {
    struct Case {
        std::uint8_t r, g, b;
        double h, l, s;
    };
    const Case cases[] = {
        {255, 0, 0, 0, 0.5, 1},
        {0, 255, 0, 120, 0.5, 1},
        {0, 0, 255, 240, 0.5, 1},
        {255, 0, 255, 300, 0.5, 1},
        {255, 255, 0, 60, 0.5, 1},
        {0, 255, 255, 180, 0.5, 1},
        {255, 128, 128, 0, 0.75098039215686274, 1},
        {51, 102, 153, 210, 0.4, 0.5},
    };
    for (const Case& c : cases) {
        double h, l, s;
        RgbToHls(c.r, c.g, c.b, h, l, s);
        EXPECT_NEAR(h, c.h, 1e-9) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_NEAR(l, c.l, 1e-9);
        EXPECT_NEAR(s, c.s, 1e-9);
    }
}

TEST(Conversion, GreysHaveNoHue) {
    for (int v = 0; v < 256; ++v) {
        double h, l, s;
        RgbToHls(std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), h, l, s);
        ASSERT_EQ(h, 999.0);
        ASSERT_EQ(s, 0.0);
        std::uint8_t r, g, b;
        HlsToRgb(r, g, b, h, l, s);  // 999 is harmless on the way back
        ASSERT_EQ(r, g);
        ASSERT_EQ(g, b);
        ASSERT_LE(v - r, 1);
        ASSERT_LE(r, v);
    }
}

TEST(Conversion, HlsToRgbOfDocumentedValues) {
    struct Case {
        double h, l, s;
        std::uint8_t r, g, b;
    };
    const Case cases[] = {
        {0, 0.5, 1, 255, 0, 0},
        {120, 0.5, 1, 0, 255, 0},
        {240, 0.5, 1, 0, 0, 255},
        {60, 0.5, 1, 255, 255, 0},
        {300, 0.5, 1, 255, 0, 255},
        {999, 1, 0, 255, 255, 255},
        {37, 1, 0.3, 255, 255, 255},
        {37, 0, 0.7, 0, 0, 0},
        {37, 0.5, 0, 127, 127, 127},
        // Outside the ranges the components are held at 0 and 255, never wrapped.
        {0, 1.5, 1, 255, 255, 255},
        {0, -0.5, 1, 0, 0, 0},
        {0, 0.5, 3, 255, 0, 0},
        {0, std::numeric_limits<double>::quiet_NaN(), 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t r, g, b;
        HlsToRgb(r, g, b, c.h, c.l, c.s);
        EXPECT_EQ(r, c.r) << c.h << "," << c.l << "," << c.s;
        EXPECT_EQ(g, c.g) << c.h << "," << c.l << "," << c.s;
        EXPECT_EQ(b, c.b) << c.h << "," << c.l << "," << c.s;
    }
}

TEST(Conversion, RoundTripOfEveryColourLosesAtMostOneStep) {
    for (std::uint32_t c = 0; c < (1u << 24); ++c) {
        std::uint8_t r = std::uint8_t(c >> 16), g = std::uint8_t(c >> 8), b = std::uint8_t(c);
        double h, l, s;
        RgbToHls(r, g, b, h, l, s);
        std::uint8_t r2, g2, b2;
        HlsToRgb(r2, g2, b2, h, l, s);
        // The way back takes the floor: a component may come back one lower, never higher.
        if (r2 > r || r - r2 > 1 || g2 > g || g - g2 > 1 || b2 > b || b - b2 > 1) {
            FAIL() << int(r) << "," << int(g) << "," << int(b) << " -> " << int(r2) << ","
                   << int(g2) << "," << int(b2);
        }
    }
}

TEST(Conversion, HlsValueSegments) {
    const double m1 = 0.2, m2 = 0.8;
    struct Case {
        double h, want;
    };
    const Case cases[] = {
        {0, m1},    {30, 0.5},   {60, m2},   {179.9, m2}, {180, m2}, {210, 0.5},
        {240, m1},  {359, m1},   {360, m1},                           // no wrap at 360 exactly
        {390, 0.5}, {-330, 0.5}, {-120, m1}, {480, m2},   {800, m1},  // one correction only: 440 is
                                                                      // past 240
    };
    for (const Case& c : cases)
        EXPECT_NEAR(HlsValue(c.h, m1, m2), c.want, 1e-15) << c.h;
}

TEST(Conversion, PackedWords) {
    EXPECT_EQ(PackColorRef(0x12, 0x34, 0x56), 0x00563412u);
    EXPECT_EQ(PackColorRef(0x112, 0x134, 0x156), 0x00563412u);  // masked to 8 bits
    EXPECT_EQ(PackQuad(0x12, 0x34, 0x56), 0x00123456u);
    EXPECT_EQ(HlsToQuad(0, 0.5, 1), 0x00FF0000u);
    EXPECT_EQ(HlsToColorRef(0, 0.5, 1), 0x000000FFu);
    EXPECT_EQ(HlsToColorRef(240, 0.5, 1), 0x00FF0000u);
    double h, l, s;
    QuadToHls(0x00FF0000u, h, l, s);
    EXPECT_EQ(h, 0.0);
    EXPECT_EQ(l, 0.5);
    EXPECT_EQ(s, 1.0);
    QuadToHls(0xAA0000FFu, h, l, s);  // blue; the top byte is not a component
    EXPECT_DOUBLE_EQ(h, 240.0);
    EXPECT_EQ(MaxOf3(1, 3, 2), 3);
    EXPECT_EQ(MaxOf3(3, 1, 2), 3);
    EXPECT_EQ(MaxOf3(1, 2, 3), 3);
    EXPECT_EQ(MinOf3(2, 1, 3), 1);
    EXPECT_EQ(MinOf3(1, 2, 3), 1);
    EXPECT_EQ(MinOf3(3, 2, 1), 1);
}

TEST(Conversion, CmyAndPercentages) {
    int c, m, y;
    ColorRefToCmy(PackColorRef(255, 128, 0), c, m, y);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(m, 127);
    EXPECT_EQ(y, 255);
    EXPECT_EQ(CmyToColorRef(c, m, y), PackColorRef(255, 128, 0));
    EXPECT_EQ(CmyToColorRef(0, 0, 0), 0x00FFFFFFu);
    EXPECT_EQ(CmyToColorRef(-5, 300, 255), PackColorRef(255, 0, 0));
    const std::pair<int, int> percentages[] = {{255, 100}, {128, 50}, {1, 0},     {0, 0},
                                               {254, 99},  {3, 1},    {300, 100}, {-1, 0}};
    for (auto [v, want] : percentages)
        EXPECT_EQ(ComponentPercentage(v), want) << v;
}
