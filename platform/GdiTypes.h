#pragma once
// The plain types and constants of the drawing layer, named as the Windows
// graphics interface names them so that drawing code reads the same here.

#include <cstdint>

namespace platform::gdi {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;

// 0x00BBGGRR, 0x010000nn (palette index nn) or 0x02BBGGRR (nearest palette entry).
using COLORREF = std::uint32_t;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr COLORREF RGB(int r, int g, int b) {
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr COLORREF PALETTEINDEX(int i) {
    return 0x01000000u | COLORREF(i & 0xFFFF);
}
constexpr COLORREF PALETTERGB(int r, int g, int b) {
    return 0x02000000u | RGB(r, g, b);
}
constexpr BYTE GetRValue(COLORREF c) {
    return BYTE(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c) {
    return BYTE((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c) {
    return BYTE((c >> 16) & 0xFF);
}

// A colour table entry: blue, green, red, reserved (a "quad word", blue low).
struct RGBQUAD {
    BYTE rgbBlue = 0;
    BYTE rgbGreen = 0;
    BYTE rgbRed = 0;
    BYTE rgbReserved = 0;
    friend bool operator==(const RGBQUAD&, const RGBQUAD&) = default;
};
constexpr RGBQUAD MakeQuad(int r, int g, int b) {
    return RGBQUAD{BYTE(b), BYTE(g), BYTE(r), 0};
}

// A logical palette entry: red, green, blue, flags.
struct PALETTEENTRY {
    BYTE peRed = 0;
    BYTE peGreen = 0;
    BYTE peBlue = 0;
    BYTE peFlags = 0;
    friend bool operator==(const PALETTEENTRY&, const PALETTEENTRY&) = default;
};

// Right and bottom are exclusive.
struct RECT {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};
struct POINT {
    int x = 0;
    int y = 0;
    friend bool operator==(const POINT&, const POINT&) = default;
};
struct SIZE {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const SIZE&, const SIZE&) = default;
};

// Ternary raster operations: bits 16..23 are the truth table over pattern,
// source and destination; the low word is the classic operation encoding,
// carried but not used.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD MERGECOPY = 0x00C000CA;
constexpr DWORD MERGEPAINT = 0x00BB0226;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATPAINT = 0x00FB0A09;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// The truth-table byte of a ternary code. Bit (p << 2 | s << 1 | d) of it is
// the result for pattern bit p, source bit s and destination bit d.
constexpr BYTE RopIndex(DWORD rop) {
    return BYTE((rop >> 16) & 0xFF);
}
// The ternary code of a truth-table byte (the low word left 0).
constexpr DWORD RopFromIndex(BYTE index) {
    return DWORD(index) << 16;
}
constexpr bool RopUsesSource(DWORD rop) {
    const BYTE i = RopIndex(rop);
    return ((i >> 2) & 0x33) != (i & 0x33);
}
constexpr bool RopUsesPattern(DWORD rop) {
    const BYTE i = RopIndex(rop);
    return ((i >> 4) & 0x0F) != (i & 0x0F);
}

// Binary raster operations (pen and brush against the destination).
enum {
    R2_BLACK = 1,
    R2_NOTMERGEPEN = 2,
    R2_MASKNOTPEN = 3,
    R2_NOTCOPYPEN = 4,
    R2_MASKPENNOT = 5,
    R2_NOT = 6,
    R2_XORPEN = 7,
    R2_NOTMASKPEN = 8,
    R2_MASKPEN = 9,
    R2_NOTXORPEN = 10,
    R2_NOP = 11,
    R2_MERGENOTPEN = 12,
    R2_COPYPEN = 13,
    R2_MERGEPENNOT = 14,
    R2_MERGEPEN = 15,
    R2_WHITE = 16,
};

// Stretch modes.
enum {
    BLACKONWHITE = 1,
    WHITEONBLACK = 2,
    COLORONCOLOR = 3,
    HALFTONE = 4,
    STRETCH_ANDSCANS = BLACKONWHITE,
    STRETCH_ORSCANS = WHITEONBLACK,
    STRETCH_DELETESCANS = COLORONCOLOR,
    STRETCH_HALFTONE = HALFTONE,
};

// Background modes.
enum { TRANSPARENT = 1, OPAQUE = 2 };

// Polygon fill modes.
enum { ALTERNATE = 1, WINDING = 2 };

// Pen styles.
enum {
    PS_SOLID = 0,
    PS_DASH = 1,
    PS_DOT = 2,
    PS_DASHDOT = 3,
    PS_DASHDOTDOT = 4,
    PS_NULL = 5,
    PS_INSIDEFRAME = 6,
};

// Brush styles and hatch kinds.
enum { BS_SOLID = 0, BS_NULL = 1, BS_HOLLOW = BS_NULL, BS_HATCHED = 2, BS_PATTERN = 3 };
enum {
    HS_HORIZONTAL = 0,
    HS_VERTICAL = 1,
    HS_FDIAGONAL = 2,
    HS_BDIAGONAL = 3,
    HS_CROSS = 4,
    HS_DIAGCROSS = 5,
};

// Region combine modes and region kinds.
enum { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
enum { RGN_ERROR = 0, NULLREGION = 1, SIMPLEREGION = 2, COMPLEXREGION = 3 };

// Text alignment.
enum {
    TA_LEFT = 0,
    TA_TOP = 0,
    TA_NOUPDATECP = 0,
    TA_UPDATECP = 1,
    TA_RIGHT = 2,
    TA_CENTER = 6,
    TA_BOTTOM = 8,
    TA_BASELINE = 24,
};

// Font weights.
enum { FW_NORMAL = 400, FW_BOLD = 700 };

}  // namespace platform::gdi
