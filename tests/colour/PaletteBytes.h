#pragma once
// Builds palette-file bytes by hand, field by field, from the documented layouts.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace palettebytes {

struct Bytes {
    std::string s;
    Bytes& U8(unsigned v) {
        s += char(v & 0xFF);
        return *this;
    }
    Bytes& U16(unsigned v) { return U8(v).U8(v >> 8); }
    Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Bytes& F64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        U32(std::uint32_t(bits));
        return U32(std::uint32_t(bits >> 32));
    }
    Bytes& Raw(std::string_view text) {
        s.append(text);
        return *this;
    }
    // A layout-1 text: 16-bit length, then the 8-bit bytes.
    Bytes& AnsiText(std::string_view text) { return U16(unsigned(text.size())).Raw(text); }
    // A layout-2 text: 16-bit count with the terminating zero, then UTF-16 units.
    Bytes& WideText(std::u16string_view text) {
        U16(unsigned(text.size() + 1));
        for (char16_t c : text)
            U16(c);
        return U16(0);
    }
    Bytes& Repeat(const Bytes& part, int times) {
        for (int i = 0; i < times; ++i)
            s += part.s;
        return *this;
    }
};

// A layout-2 entry up to its optional parts.
inline Bytes Entry2(unsigned status, unsigned infor, unsigned page, unsigned number, unsigned extra,
                    int e1, int e2, int e3, unsigned b, unsigned g, unsigned r, unsigned reserved,
                    double v0, double v1, double v2, double v3) {
    Bytes e;
    e.U32(1).U8(status).U16(infor).U16(page).U8(number).U8(extra);
    e.U16(unsigned(e1)).U16(unsigned(e2)).U16(unsigned(e3));
    e.U8(b).U8(g).U8(r).U8(reserved);
    e.F64(v0).F64(v1).F64(v2).F64(v3);
    return e;
}

// A plain layout-2 entry of kind 0 without names or tags.
inline Bytes PlainEntry2(unsigned r, unsigned g, unsigned b) {
    return Entry2(0, 0, 0, 0, 0, 0, 0, 0, b, g, r, 0, r, g, b, 999.0);
}

inline Bytes Header(unsigned version) {
    Bytes h;
    h.Raw("CP").U16(version);
    return h;
}

inline Bytes Header112(unsigned useColor, unsigned colorCount) {
    Bytes h = Header(112);
    h.U16(useColor).U16(colorCount);
    return h;
}

// A layout-1 entry up to its optional parts.
inline Bytes Entry1(unsigned legacyInfor, unsigned page, unsigned number, unsigned b, unsigned g,
                    unsigned r) {
    Bytes e;
    e.U16(legacyInfor).U16(page).U8(number).U8(b).U8(g).U8(r).U8(0);
    return e;
}

inline Bytes Entry0(unsigned infor, unsigned page, unsigned number, unsigned b, unsigned g,
                    unsigned r, unsigned reserved = 0) {
    Bytes e;
    e.U16(infor).U16(page).U8(number).U8(0xEE).U8(b).U8(g).U8(r).U8(reserved);
    return e;
}

}  // namespace palettebytes
