#pragma once
// Units and coordinate systems, decimal fractions, 2-D affine transforms, a
// most-frequent-value counter, gcd and a byte fill of an 8-bit bitmap.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillor {

enum TUnit { uDot = 0, uInch = 1, uCm = 2 };
enum TCoordinateSystem { csTopLeft = 0, csBottomLeft = 1, csBottomRight = 2 };
enum eSign { plus = 0, minus = 1 };

// The value name of a unit ("uDot", "uInch", "uCm"), as the settings keep it.
const char* UnitName(TUnit unit);
// The unit of a value name; false (and *unit untouched) for any other text.
bool UnitFromName(const char* name, TUnit* unit);

// Greatest common divisor of |a| and |b|; gcd(a, 0) = |a|, gcd(0, 0) = 0.
// 64-bit, so that gcd(-2147483648, 0) is 2147483648 and not an overflow.
std::int64_t gcd(std::int32_t a, std::int32_t b);

// Turns a decimal number into a reduced fraction of its decimal digits, the
// first digit not taken rounding the last one taken.
class TFraction {
  public:
    // n: the most decimal digits Value may take; 0 for no limit but overflow.
    explicit TFraction(std::int32_t n = 0) : number(n) {}

    // False when the magnitude does not fit (then numerator is 2147483647 and
    // denominator 1) or f is not a number (then 0/1).
    bool Value(double f);
    // The digit step: takes digits of x (0 <= x < 1) into numerator and
    // denominator; returns the first digit it did not take.
    int Process(int depth, double x);

    std::int32_t number = 0;
    eSign sign = plus;
    std::int32_t numerator = 0;
    std::int32_t denominator = 1;
};

// A 2-D affine transform of row-vector points (x, y, 1): each operation
// multiplies T on the right, so operations act in the order they were called.
class TTransfer {
  public:
    TTransfer() { init(); }
    void init();
    void scaling(long double x, long double y);
    void translation(long double x, long double y);
    void rotation(long double theta);  // radians
    void convert(long double& ox, long double& oy) const;
    void convert2(long double ix, long double iy, long double& ox, long double& oy) const;

    long double T[3][3];
};

struct TMaxValueData {
    std::int32_t Value = 0;
    std::int32_t Count = 0;
};

// Counts how often each value comes and tells the most frequent one.
class TMaxValue {
  public:
    // Size := n: a zero-filled table of n distinct values (none for n <= 0, or
    // when it cannot be had).
    void SetSize(std::int32_t n);
    std::int32_t GetSize() const { return FSize; }
    std::int32_t GetUsed() const { return FMax; }
    // Adds c to the count of v. False, with nothing counted, when v is new and
    // the table is full.
    bool Append(std::int32_t v, std::int32_t c);
    // The value with the largest count (the earliest wins a tie) and empties
    // the table; with nothing appended, the first slot's value (0 when none).
    std::int32_t Maximum();

  private:
    std::vector<TMaxValueData> FData;
    std::int32_t FSize = 0;
    std::int32_t FMax = 0;
};

// An 8-bit-per-pixel bitmap: Height rows of Stride bytes, top row first.
struct TByteBitmap {
    std::uint8_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    int Stride = 0;  // bytes per row; at least Width
};

// The row length of an 8-bit bitmap whose rows are padded to 4 bytes.
inline int ByteBitmapStride(int width) {
    return width <= 0 ? 0 : (width + 3) / 4 * 4;
}

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// Sets every byte inside rect (right and bottom exclusive; the corners in any
// order) to value, clipped to the bitmap. False when the bitmap is not one
// byte per pixel (no bits, negative size, or rows shorter than Width).
bool FillRect(const TByteBitmap& bitmap, const TRect& rect, std::uint8_t value);

}  // namespace quillor
