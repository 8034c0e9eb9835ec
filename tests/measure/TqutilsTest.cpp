// Units, fractions, transforms, the most-frequent-value counter, gcd and the
// byte fill.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "measure/Tqutils.h"

using namespace quillor;

TEST(Units, OrdinalsAndNames) {
    EXPECT_EQ(int(uDot), 0);
    EXPECT_EQ(int(uInch), 1);
    EXPECT_EQ(int(uCm), 2);
    EXPECT_EQ(int(csTopLeft), 0);
    EXPECT_EQ(int(csBottomLeft), 1);
    EXPECT_EQ(int(csBottomRight), 2);
    for (TUnit u : {uDot, uInch, uCm}) {
        TUnit back = uDot;
        if (u == uDot)
            back = uCm;
        ASSERT_TRUE(UnitFromName(UnitName(u), &back));
        EXPECT_EQ(back, u);
    }
    EXPECT_STREQ(UnitName(uInch), "uInch");
    TUnit unit = uInch;
    EXPECT_FALSE(UnitFromName("ucm", &unit));
    EXPECT_FALSE(UnitFromName(nullptr, &unit));
    EXPECT_EQ(unit, uInch);
}

TEST(Fraction, Values) {
    struct Case {
        int digits;
        double f;
        eSign sign;
        std::int32_t numerator, denominator;
        bool fits;
    };
    const Case cases[] = {
        {10, 0, plus, 0, 1, true},
        {10, -0.0, plus, 0, 1, true},
        {10, -1.5, minus, 3, 2, true},
        {10, 0.375, plus, 3, 8, true},
        {10, 0.1, plus, 1, 10, true},
        {10, 2, plus, 2, 1, true},
        {10, 0.999999999999, plus, 1, 1, true},
        {10, 0.5, plus, 1, 2, true},
        {10, 1.0 / 3.0, plus, 333333333, 1000000000, true},
        {10, 12.25, plus, 49, 4, true},
        {0, 0.375, plus, 3, 8, true},
        {2, 0.375, plus, 19, 50, true},  // 0.37, raised by the 5 that follows
        {1, 0.375, plus, 2, 5, true},
        {1, 0.34, plus, 3, 10, true},
        {-1, 0.75, plus, 1, 1, true},  // no digit at all: rounds to a whole
        // Large magnitudes: digits stop before the numerator overflows.
        {10, 214748364.75, plus, 1073741824, 5, true},  // the carry goes past 2^31 - 1
        {10, 2147483647.0, plus, 2147483647, 1, true},
        {10, 2147483647.7, plus, 2147483647, 1, false},
        {10, -3e9, minus, 2147483647, 1, false},
        {10, std::numeric_limits<double>::infinity(), plus, 2147483647, 1, false},
        {10, std::numeric_limits<double>::quiet_NaN(), plus, 0, 1, false},
    };
    for (const Case& c : cases) {
        TFraction fr(c.digits);
        EXPECT_EQ(fr.Value(c.f), c.fits) << c.f;
        EXPECT_EQ(fr.sign, c.sign) << c.f;
        EXPECT_EQ(fr.numerator, c.numerator) << c.digits << " digits, " << c.f;
        EXPECT_EQ(fr.denominator, c.denominator) << c.digits << " digits, " << c.f;
    }
}

TEST(Fraction, ProcessTakesDigitsUntilTheDenominatorIsFull) {
    TFraction fr(0);
    fr.numerator = 0;
    fr.denominator = 1;
    EXPECT_EQ(fr.Process(1, 0.25), 0);  // takes 2, 5, then zeros up to 10^9
    EXPECT_EQ(fr.numerator, 250000000);
    EXPECT_EQ(fr.denominator, 1000000000);
    TFraction limited(1);
    EXPECT_EQ(limited.Process(1, 0.25), 5);
    EXPECT_EQ(limited.numerator, 2);
    EXPECT_EQ(limited.denominator, 10);
    EXPECT_EQ(limited.Process(1, 7.0), 0);  // not a fraction digit: nothing taken
    EXPECT_EQ(limited.numerator, 2);
}

TEST(Gcd, Values) {
    struct Case {
        std::int32_t a, b;
        std::int64_t want;
    };
    const Case cases[] = {
        {12, 18, 6},
        {-12, 18, 6},
        {12, -18, 6},
        {7, 0, 7},
        {0, -7, 7},
        {0, 0, 0},
        {17, 5, 1},
        {375000000, 1000000000, 125000000},
        {std::numeric_limits<std::int32_t>::min(), 0, 2147483648LL},
        {std::numeric_limits<std::int32_t>::min(), 6, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gcd(c.a, c.b), c.want) << c.a << "," << c.b;
}

TEST(Transfer, OperationsActInTheOrderCalled) {
    struct Step {
        enum { Scale, Translate, Rotate } op;
        long double a, b;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        long double x, y, wantX, wantY;
    };
    const long double quarter = std::numbers::pi_v<long double> / 2;
    const std::vector<Case> cases = {
        {"identity", {}, 3.5, -2, 3.5, -2},
        {"translate then scale", {{Step::Translate, 5, 0}, {Step::Scale, 2, 2}}, 1, 1, 12, 2},
        {"scale then translate", {{Step::Scale, 2, 2}, {Step::Translate, 5, 0}}, 1, 1, 7, 2},
        {"rotate a quarter", {{Step::Rotate, quarter, 0}}, 1, 0, 0, 1},
        {"rotate then translate",
         {{Step::Rotate, quarter, 0}, {Step::Translate, 1, 1}},
         1,
         0,
         1,
         2},
        {"translate then rotate",
         {{Step::Translate, 1, 1}, {Step::Rotate, quarter, 0}},
         1,
         0,
         -1,
         2},
        {"uneven scale", {{Step::Scale, 3, -0.5}}, 2, 4, 6, -2},
    };
    for (const Case& c : cases) {
        TTransfer t;
        for (const Step& s : c.steps) {
            if (s.op == Step::Scale)
                t.scaling(s.a, s.b);
            else if (s.op == Step::Translate)
                t.translation(s.a, s.b);
            else
                t.rotation(s.a);
        }
        long double ox, oy;
        t.convert2(c.x, c.y, ox, oy);
        EXPECT_NEAR(double(ox), double(c.wantX), 1e-15) << c.name;
        EXPECT_NEAR(double(oy), double(c.wantY), 1e-15) << c.name;
        long double x = c.x, y = c.y;
        t.convert(x, y);
        EXPECT_EQ(x, ox) << c.name;
        EXPECT_EQ(y, oy) << c.name;
    }
    TTransfer t;
    t.scaling(4, 4);
    t.init();
    long double x = 9, y = 8;
    t.convert(x, y);
    EXPECT_EQ(x, 9);
    EXPECT_EQ(y, 8);
}

TEST(MaxValue, EarliestWinsTiesAndMaximumEmpties) {
    TMaxValue m;
    m.SetSize(4);
    EXPECT_TRUE(m.Append(7, 1));
    EXPECT_TRUE(m.Append(3, 2));
    EXPECT_TRUE(m.Append(7, 1));
    EXPECT_EQ(m.Maximum(), 7);
    EXPECT_EQ(m.GetUsed(), 0);
    EXPECT_EQ(m.GetSize(), 4);
    EXPECT_TRUE(m.Append(3, 1));
    EXPECT_TRUE(m.Append(9, 5));
    EXPECT_EQ(m.Maximum(), 9);
    // Empty: the value left in the first slot.
    EXPECT_EQ(m.Maximum(), 3);
}

TEST(MaxValue, TableBoundsAreChecked) {
    TMaxValue unsized;
    EXPECT_FALSE(unsized.Append(1, 1));
    EXPECT_EQ(unsized.Maximum(), 0);

    TMaxValue fresh;
    fresh.SetSize(3);
    EXPECT_EQ(fresh.Maximum(), 0);

    TMaxValue m;
    m.SetSize(2);
    EXPECT_TRUE(m.Append(1, 1));
    EXPECT_TRUE(m.Append(2, 1));
    EXPECT_FALSE(m.Append(3, 10));  // a third distinct value does not fit
    EXPECT_TRUE(m.Append(2, 1));    // a known one still counts
    EXPECT_EQ(m.Maximum(), 2);

    m.SetSize(-5);
    EXPECT_EQ(m.GetSize(), 0);
    EXPECT_FALSE(m.Append(1, 1));

    TMaxValue counts;
    counts.SetSize(2);
    counts.Append(1, std::numeric_limits<std::int32_t>::max());
    counts.Append(1, 5);  // saturates instead of wrapping negative
    counts.Append(2, 1000);
    EXPECT_EQ(counts.Maximum(), 1);
}

TEST(FillRect, FillsInsideAndClipsToTheBitmap) {
    const int w = 5, h = 4, stride = ByteBitmapStride(w);
    ASSERT_EQ(stride, 8);
    struct Case {
        const char* name;
        TRect rect;
        std::vector<std::string> rows;  // '#' filled, '.' untouched, over the whole stride
    };
    const std::vector<Case> cases = {
        {"inside", {1, 1, 3, 3}, {"........", ".##.....", ".##.....", "........"}},
        {"corners swapped", {3, 3, 1, 1}, {"........", ".##.....", ".##.....", "........"}},
        {"whole", {0, 0, 5, 4}, {"#####...", "#####...", "#####...", "#####..."}},
        {"past every edge", {-3, -2, 9, 99}, {"#####...", "#####...", "#####...", "#####..."}},
        {"outside", {6, 0, 9, 4}, {"........", "........", "........", "........"}},
        {"empty", {2, 2, 2, 4}, {"........", "........", "........", "........"}},
        {"last column", {4, 3, 5, 4}, {"........", "........", "........", "....#..."}},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bits(std::size_t(stride * h), '.');
        TByteBitmap bitmap{bits.data(), w, h, stride};
        EXPECT_TRUE(FillRect(bitmap, c.rect, '#')) << c.name;
        for (int y = 0; y < h; ++y) {
            EXPECT_EQ(std::string(bits.begin() + y * stride, bits.begin() + (y + 1) * stride),
                      c.rows[std::size_t(y)])
                << c.name << " row " << y;
        }
    }
}

TEST(FillRect, RefusesWhatIsNotAByteBitmap) {
    std::vector<std::uint8_t> bits(16, 0);
    const TRect all{0, 0, 100, 100};
    EXPECT_FALSE(FillRect(TByteBitmap{nullptr, 4, 4, 4}, all, 1));
    EXPECT_FALSE(FillRect(TByteBitmap{bits.data(), 4, 4, 3}, all, 1));  // rows too short
    EXPECT_FALSE(FillRect(TByteBitmap{bits.data(), -1, 4, 4}, all, 1));
    EXPECT_EQ(bits, std::vector<std::uint8_t>(16, 0));
    EXPECT_TRUE(FillRect(TByteBitmap{nullptr, 0, 0, 0}, all, 1));  // nothing to fill
}
