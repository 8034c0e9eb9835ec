#include "measure/Tqutils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace quillor {

namespace {

std::uint64_t Gcd64(std::uint64_t r, std::uint64_t c) {
    while (c != 0) {
        std::uint64_t t = r % c;
        r = c;
        c = t;
    }
    return r;
}

std::uint64_t Magnitude(std::int64_t v) {
    return v < 0 ? std::uint64_t(-v) : std::uint64_t(v);
}

}  // namespace

const char* UnitName(TUnit unit) {
    switch (unit) {
        case uDot:
            return "uDot";
        case uInch:
            return "uInch";
        case uCm:
            return "uCm";
    }
    return "";
}

bool UnitFromName(const char* name, TUnit* unit) {
    if (name == nullptr)
        return false;
    for (TUnit u : {uDot, uInch, uCm}) {
        if (std::strcmp(name, UnitName(u)) == 0) {
            *unit = u;
            return true;
        }
    }
    return false;
}

std::int64_t gcd(std::int32_t a, std::int32_t b) {
    return std::int64_t(Gcd64(Magnitude(a), Magnitude(b)));
}

// ---------------------------------------------------------------------------
// TFraction

bool TFraction::Value(double f) {
    sign = plus;
    numerator = 0;
    denominator = 1;
    if (std::isnan(f))
        return false;
    if (!(f >= 0)) {
        sign = minus;
        f = -f;
    }
    double whole = std::floor(f);
    if (!(whole <= double(std::numeric_limits<std::int32_t>::max()))) {
        numerator = std::numeric_limits<std::int32_t>::max();
        return false;
    }
    numerator = static_cast<std::int32_t>(whole);
    int d = Process(1, f - whole);
    // The first digit not taken rounds the last one taken. That can carry
    // past 2^31 - 1 (214748364.75 takes 2147483647 / 10): reduce first.
    std::int64_t num = numerator;
    if (d >= 5)
        ++num;
    std::uint64_t g = Gcd64(std::uint64_t(num), std::uint64_t(denominator));
    num /= std::int64_t(g);
    std::int64_t den = denominator / std::int64_t(g);
    if (num > std::numeric_limits<std::int32_t>::max()) {
        numerator = std::numeric_limits<std::int32_t>::max();
        denominator = 1;
        return false;
    }
    numerator = static_cast<std::int32_t>(num);
    denominator = static_cast<std::int32_t>(den);
    return true;
}

int TFraction::Process(int depth, double x) {
    if (!(x >= 0.0 && x <= 1.0))
        return 0;
    x *= 10.0;
    int d = static_cast<int>(std::floor(x));
    if (x == 10.0 || (number != 0 && number < depth) ||
        (2147483647.0 - d) / 10.0 < double(numerator) || double(denominator) > 214748364.7)
        return d;
    numerator = numerator * 10 + d;
    denominator *= 10;
    return Process(depth + 1, x - d);
}

// ---------------------------------------------------------------------------
// TTransfer

void TTransfer::init() {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            T[i][j] = i == j ? 1.0L : 0.0L;
    }
}

void TTransfer::scaling(long double x, long double y) {
    for (auto& row : T) {
        row[0] *= x;
        row[1] *= y;
    }
}

void TTransfer::translation(long double x, long double y) {
    for (auto& row : T) {
        row[0] += x * row[2];
        row[1] += y * row[2];
    }
}

void TTransfer::rotation(long double theta) {
    long double c = std::cos(theta);
    long double s = std::sin(theta);
    for (auto& row : T) {
        long double x = row[0];
        long double y = row[1];
        row[0] = x * c - y * s;
        row[1] = x * s + y * c;
    }
}

void TTransfer::convert(long double& ox, long double& oy) const {
    convert2(ox, oy, ox, oy);
}

void TTransfer::convert2(long double ix, long double iy, long double& ox, long double& oy) const {
    long double x = ix * T[0][0] + iy * T[1][0] + T[2][0];
    long double y = ix * T[0][1] + iy * T[1][1] + T[2][1];
    ox = x;
    oy = y;
}

// ---------------------------------------------------------------------------
// TMaxValue

void TMaxValue::SetSize(std::int32_t n) {
    FData.clear();
    FData.shrink_to_fit();
    FSize = 0;
    FMax = 0;
    if (n <= 0)
        return;
    try {
        FData.assign(std::size_t(n), TMaxValueData{});
        FSize = n;
    } catch (const std::bad_alloc&) {
        FData.clear();
    }
}

bool TMaxValue::Append(std::int32_t v, std::int32_t c) {
    for (std::int32_t i = 0; i < FMax; ++i) {
        TMaxValueData& entry = FData[std::size_t(i)];
        if (entry.Value == v) {
            // Counts saturate rather than wrap.
            std::int64_t sum = std::int64_t(entry.Count) + c;
            entry.Count =
                std::int32_t(std::clamp<std::int64_t>(sum, std::numeric_limits<std::int32_t>::min(),
                                                      std::numeric_limits<std::int32_t>::max()));
            return true;
        }
    }
    if (FMax >= FSize)
        return false;
    FData[std::size_t(FMax)] = TMaxValueData{v, c};
    ++FMax;
    return true;
}

std::int32_t TMaxValue::Maximum() {
    if (FData.empty())
        return 0;
    std::size_t best = 0;
    for (std::int32_t i = 1; i < FMax; ++i) {
        if (FData[std::size_t(i)].Count > FData[best].Count)
            best = std::size_t(i);
    }
    FMax = 0;
    return FData[best].Value;
}

// ---------------------------------------------------------------------------
// FillRect

bool FillRect(const TByteBitmap& bitmap, const TRect& rect, std::uint8_t value) {
    if (bitmap.Width < 0 || bitmap.Height < 0 || bitmap.Stride < bitmap.Width)
        return false;
    if (bitmap.Bits == nullptr && bitmap.Width > 0 && bitmap.Height > 0)
        return false;
    int left = std::max(std::min(rect.Left, rect.Right), 0);
    int right = std::min(std::max(rect.Left, rect.Right), bitmap.Width);
    int top = std::max(std::min(rect.Top, rect.Bottom), 0);
    int bottom = std::min(std::max(rect.Top, rect.Bottom), bitmap.Height);
    for (int y = top; y < bottom && left < right; ++y) {
        std::uint8_t* row = bitmap.Bits + std::size_t(y) * std::size_t(bitmap.Stride);
        std::memset(row + left, value, std::size_t(right - left));
    }
    return true;
}

}  // namespace quillor
