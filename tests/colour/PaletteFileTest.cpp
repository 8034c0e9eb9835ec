// The palette and its file: every version and entry layout read from bytes
// built here by hand, the current layout written and read back, and files
// that are short or corrupt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "colour/Palettes.h"
#include "tests/colour/PaletteBytes.h"
#include "tests/common/TestSupport.h"

using namespace quillor;
using palettebytes::Bytes;

namespace {

bool Load(TPalette& p, const Bytes& b) {
    return p.LoadFromMemory(b.s.data(), b.s.size());
}

// A palette with something in every entry and every field.
void Fill(TPalette& p) {
    for (int k = 0; k < 256; ++k)
        p.SetNormal(k, std::uint8_t(k), std::uint8_t(255 - k), 7);
    p.SetTQStandardColor(1, 30, 2, 1, 2, 3);
    p.SetTQTextileColor(2, 1005, 3, 4, 5, 6);
    p.SetPantoneColor(3, 6, 7, 8, 9, 10);
    p.SetUserColor(4, 0, 11, 12, 13, 14, 15, u"C:\\colours\\\u00e9t\u00e9.pal", u"Sea \u6d77");
    p.SetUserColor(5, 0, 1, 2, 3, 4, 5, std::nullopt, u"");

    TColorData six;
    six.SetNormal(100, 110, 120);
    const std::uint8_t note[] = "annotation";
    six.Additional.Add(101, 2, 11, note);
    const std::int16_t words[] = {-1, 2, 300};
    six.Additional.Add(-1, 6, 3, words);
    const std::int32_t longs[] = {-7, 1 << 30};
    six.Additional.Add(200, 5, 2, longs);
    six.Additional.Add(7, 1, 0, nullptr);
    p.SetPantoneColor2(6, six);

    TColorData* e = p.GetColorData(7);
    e->SetTQStandardColor(65535, 255, 1, 2, 3);
    e->Status = 0xA5;
    e->Extra = 0x5A;
    e->Extra1 = -32768;
    e->Extra2 = 32767;
    e->Extra3 = -1;
    e->Rgb.rgbReserved = 0x77;
    e->Values[0] = 0.25;
    e->Values[1] = -1e300;
    e->Values[2] = 360.0;
    e->Values[3] = 999.0;
    e->SetInforLegacy(0x93);  // user colour with the mark: 0xC003

    p.SetUseColor(200);
    p.SetColorCount(230);
}

void ExpectSameEntries(const TPalette& a, const TPalette& b) {
    for (int k = 0; k < 256; ++k) {
        EXPECT_TRUE(*a.GetColorData(k) == *b.GetColorData(k)) << "entry " << k;
    }
}

// A whole layout-2 file whose entries are all plain, with entry `at` replaced.
Bytes File112With(int at, const Bytes& entry, unsigned useColor = 3, unsigned colorCount = 4) {
    Bytes f = palettebytes::Header112(useColor, colorCount);
    for (int k = 0; k < 256; ++k) {
        if (k == at)
            f.Raw(entry.s);
        else
            f.Raw(palettebytes::PlainEntry2(k, k, k).s);
    }
    return f;
}

}  // namespace

TEST(Palette, NewPaletteAndIndexRange) {
    TPalette p;
    EXPECT_EQ(p.GetUseColor(), 0);
    EXPECT_EQ(p.GetColorCount(), 0);
    ASSERT_NE(p.GetColorData(0), nullptr);
    ASSERT_NE(p.GetColorData(255), nullptr);
    EXPECT_EQ(p.GetColorData(-1), nullptr);
    EXPECT_EQ(p.GetColorData(256), nullptr);
    EXPECT_FALSE(p.SetNormal(256, 1, 2, 3));
    EXPECT_FALSE(p.Copy(-1, TColorData()));
    EXPECT_EQ(p.GetColor(300), 0u);
    EXPECT_TRUE(p.SetPantoneColor(255, 1, 2, 3, 4, 5));
    EXPECT_EQ(p.GetColor(255), 0x00050403u);
    EXPECT_EQ(p.GetColorCount(), 0);  // setters leave the count alone
}

TEST(Palette, SetUseColor) {
    struct Case {
        std::uint16_t count, value, wantUse, wantCount;
    };
    const Case cases[] = {
        {10, 20, 20, 21},       {10, 5, 5, 10},      {10, 10, 10, 11},      {0, 0, 0, 1},
        {10, 255, 255, 256},    {10, 256, 255, 256}, {10, 65535, 255, 256},  // never wraps to 0
        {300, 65535, 255, 300},
    };
    for (const Case& c : cases) {
        TPalette p;
        p.SetColorCount(c.count);
        p.SetUseColor(c.value);
        EXPECT_EQ(p.GetUseColor(), c.wantUse) << c.value;
        EXPECT_EQ(p.GetColorCount(), c.wantCount) << c.value;
    }
}

TEST(PaletteFile, CurrentLayoutRoundTripsEveryField) {
    testsupport::TempDir dir;
    TPalette p;
    Fill(p);
    p.SaveToFile(dir.File("a.pal"));
    std::string first = testsupport::ReadFile(dir.File("a.pal"));
    EXPECT_EQ(first, p.SaveToMemory());

    TPalette q;
    ASSERT_TRUE(q.LoadFromFile(dir.File("a.pal")));
    ExpectSameEntries(p, q);
    EXPECT_EQ(q.GetUseColor(), 200);
    EXPECT_EQ(q.GetColorCount(), 230);
    const TColorData* six = q.GetColorData(6);
    ASSERT_EQ(six->Additional.GetCount(), 4);
    EXPECT_EQ(six->Additional.GetTag(1).Id, -1);  // a 16-bit id comes back as it was
    EXPECT_EQ(six->Additional.GetTag(2).Id, 200);
    EXPECT_EQ(*q.GetColorData(4)->GetColorName(), u"Sea \u6d77");

    q.SaveToFile(dir.File("b.pal"));
    EXPECT_EQ(testsupport::ReadFile(dir.File("b.pal")), first);
}

TEST(PaletteFile, Layout2FromHandBuiltBytes) {
    Bytes entry = palettebytes::Entry2(0x11, 0xB003, 0x0102, 3, 4, -2, 300, -300, 10, 20, 30, 40,
                                       0.5, 1.5, -2.5, 999.0);
    entry.WideText(u"Name").WideText(u"File");
    entry.U8(50).U32(3);                            // 50 starts a block as 255 does
    entry.U16(0xFFFF).U16(6).U32(2).U16(1).U16(2);  // id and type as they stand
    entry.U16(0x0114).U16(1).U32(3).Raw("abc");
    entry.U16(23).U16(2).U32(0);
    Bytes file = File112With(9, entry, 0x1234, 0x0100);

    TPalette p;
    p.SetUseColor(1);
    ASSERT_TRUE(Load(p, file));
    EXPECT_EQ(p.GetUseColor(), 0x1234);
    EXPECT_EQ(p.GetColorCount(), 0x0100);
    const TColorData& e = *p.GetColorData(9);
    EXPECT_EQ(e.Status, 0x11);
    EXPECT_EQ(e.GetInfor(), 0xB003);
    EXPECT_EQ(e.Page, 0x0102);
    EXPECT_EQ(e.Number, 3);
    EXPECT_EQ(e.Extra, 4);
    EXPECT_EQ(e.Extra1, -2);
    EXPECT_EQ(e.Extra2, 300);
    EXPECT_EQ(e.Extra3, -300);
    EXPECT_EQ(e.Rgb, (tagRGBQUAD{10, 20, 30, 40}));
    EXPECT_EQ(e.Values[0], 0.5);
    EXPECT_EQ(e.Values[1], 1.5);
    EXPECT_EQ(e.Values[2], -2.5);
    EXPECT_EQ(e.Values[3], 999.0);
    EXPECT_EQ(*e.GetColorName(), u"Name");
    EXPECT_EQ(*e.GetFileName(), u"File");
    ASSERT_EQ(e.Additional.GetCount(), 3);
    EXPECT_EQ(e.Additional.GetTag(0).Id, -1);
    EXPECT_EQ(e.Additional.GetTag(0).Type, 6);
    EXPECT_EQ(e.Additional.GetTag(0).Data, (std::vector<std::uint8_t>{1, 0, 2, 0}));
    EXPECT_EQ(e.Additional.GetTag(1).Id, 0x0114);
    EXPECT_EQ(e.Additional.GetTag(2).Id, 23);  // no renumbering in the current layout
    EXPECT_EQ(e.Additional.GetTag(2).Count, 0);
    // The entries around it had no block: the byte after them (the next
    // entry's mark, 1) was given back.
    EXPECT_EQ(p.GetColorData(8)->GetColorRef(), 0x00080808u);
    EXPECT_EQ(p.GetColorData(10)->GetColorRef(), 0x000A0A0Au);
    EXPECT_EQ(p.GetColorData(10)->Additional.GetCount(), 0);
}

TEST(PaletteFile, Layout0KeepsWhatItDoesNotStore) {
    TPalette p;
    Fill(p);
    TPalette before;
    Fill(before);
    Bytes f = palettebytes::Header(100);
    for (int k = 0; k < 256; ++k) {
        if (k == 7)
            f.Raw(palettebytes::Entry0(0x8005, 0x0203, 9, 1, 2, 3, 4).s);
        else if (k == 8)
            f.Raw(palettebytes::Entry0(0x1001, 11, 1, 0, 0, 0).s);
        else
            f.Raw(palettebytes::Entry0(0, 0, 0, std::uint8_t(k), 0, 0).s);
    }
    ASSERT_TRUE(Load(p, f));
    EXPECT_EQ(p.GetColorCount(), 256);
    EXPECT_EQ(p.GetUseColor(), 200);
    const TColorData& e = *p.GetColorData(7);
    EXPECT_EQ(e.GetInfor(), 0x8005);  // stored without conversion
    EXPECT_EQ(e.Page, 0x0203);
    EXPECT_EQ(e.Number, 9);
    EXPECT_EQ(e.Rgb, (tagRGBQUAD{1, 2, 3, 4}));
    // Status, the extras and the values are not in layout 0.
    const TColorData& old = *before.GetColorData(7);
    EXPECT_EQ(e.Status, old.Status);
    EXPECT_EQ(e.Extra, old.Extra);
    EXPECT_EQ(e.Extra1, old.Extra1);
    EXPECT_EQ(e.Extra3, old.Extra3);
    EXPECT_EQ(e.Values[1], old.Values[1]);
    // Names and tags are not either: they go.
    EXPECT_EQ(p.GetColorData(4)->GetFileName(), nullptr);
    EXPECT_EQ(p.GetColorData(6)->Additional.GetCount(), 0);
    // Kind 1 is upgraded; a name bit without a name gives an empty name.
    EXPECT_EQ(p.GetColorData(8)->GetInfor(), 0x1003);
    EXPECT_EQ(p.GetColorData(8)->Page, 20);
    ASSERT_NE(p.GetColorData(8)->GetColorName(), nullptr);
    EXPECT_EQ(*p.GetColorData(8)->GetColorName(), u"");
    EXPECT_EQ(p.GetColor(100), 100u << 16);
}

TEST(PaletteFile, Layout1TextsAnnotationsAndOldTags) {
    testsupport::ScopedEnv cp("VELSERIN_ANSI_CODEPAGE", "1252");
    Bytes f = palettebytes::Header(105);
    // 0: user colour with a file name in the ANSI code page and no colour name.
    f.Raw(palettebytes::Entry1(0x13, 7, 8, 1, 2, 3).s).AnsiText("fil\xE9").AnsiText("");
    // 1: user colour of kind 6 with the mark: names, no annotation, no block.
    f.Raw(palettebytes::Entry1(0x96, 0, 0, 0, 0, 0).s).AnsiText("").AnsiText("Rot");
    // 2: kind 6 with an annotation and no block: the annotation becomes tag 101.
    f.Raw(palettebytes::Entry1(0x06, 0, 0, 0, 0, 0).s).AnsiText("hello");
    // 3: kind 6 with an annotation and a block: the block's tags, renumbered.
    f.Raw(palettebytes::Entry1(0x06, 0, 0, 0, 0, 0).s).AnsiText("ann");
    f.U8(255).U32(2).U16(0x0114).U16(0x0101).U32(2).Raw("xy");
    f.U16(50).U16(3).U32(1).U16(0xBEEF);
    // 4: kind 6 with the mark: no annotation; a block of 0 tags started by 50.
    f.Raw(palettebytes::Entry1(0x86, 0, 0, 0, 0, 0).s).U8(50).U32(0);
    // 5: kind 6, empty annotation, no block.
    f.Raw(palettebytes::Entry1(0x06, 0, 0, 0, 0, 0).s).AnsiText("");
    // 6: kind 1 is upgraded.
    f.Raw(palettebytes::Entry1(0x01, 12, 0, 0, 0, 0).s);
    // 7: the mark alone.
    f.Raw(palettebytes::Entry1(0x85, 3, 0, 0, 0, 0).s);
    for (int k = 8; k < 256; ++k)
        f.Raw(palettebytes::Entry1(0, 0, 0, 9, 9, 9).s);

    TPalette p;
    Fill(p);
    ASSERT_TRUE(Load(p, f));
    EXPECT_EQ(p.GetColorCount(), 256);
    EXPECT_EQ(p.GetUseColor(), 200);

    const TColorData& e0 = *p.GetColorData(0);
    EXPECT_EQ(e0.GetInfor(), 0x6003);
    EXPECT_EQ(e0.Page, 7);
    EXPECT_EQ(e0.Rgb, (tagRGBQUAD{1, 2, 3, 0}));
    ASSERT_NE(e0.GetFileName(), nullptr);
    EXPECT_EQ(*e0.GetFileName(), u"fil\u00e9");
    EXPECT_EQ(e0.GetColorName(), nullptr);
    EXPECT_EQ(e0.Values[1], 255.0);  // values are not in layout 1: entry 0's stay

    const TColorData& e1 = *p.GetColorData(1);
    EXPECT_EQ(e1.GetInfor(), 0xD006);
    EXPECT_EQ(*e1.GetColorName(), u"Rot");
    EXPECT_EQ(e1.GetFileName(), nullptr);
    EXPECT_EQ(e1.Additional.GetCount(), 0);

    const TColorData& e2 = *p.GetColorData(2);
    EXPECT_EQ(e2.GetInfor(), 6);
    ASSERT_EQ(e2.Additional.GetCount(), 1);
    EXPECT_EQ(e2.Additional.GetTag(0).Id, kAnnotationTagId);
    EXPECT_EQ(e2.Additional.GetTag(0).Type, 2);
    EXPECT_EQ(e2.Additional.GetTag(0).Count, 6);
    EXPECT_EQ(e2.Additional.GetTag(0).Data,
              (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o', 0}));

    const TColorData& e3 = *p.GetColorData(3);
    ASSERT_EQ(e3.Additional.GetCount(), 2);
    EXPECT_EQ(e3.Additional.GetTag(0).Id, 100);  // low byte 20, renumbered
    EXPECT_EQ(e3.Additional.GetTag(0).Type, 1);  // low byte
    EXPECT_EQ(e3.Additional.GetTag(0).Data, (std::vector<std::uint8_t>{'x', 'y'}));
    EXPECT_EQ(e3.Additional.GetTag(1).Id, -1);  // 50 becomes 0xFFFF
    EXPECT_EQ(e3.Additional.GetTag(1).Data, (std::vector<std::uint8_t>{0xEF, 0xBE}));

    EXPECT_EQ(p.GetColorData(4)->GetInfor(), 0x8006);
    EXPECT_EQ(p.GetColorData(4)->Additional.GetCount(), 0);
    EXPECT_EQ(p.GetColorData(5)->Additional.GetCount(), 0);
    EXPECT_EQ(p.GetColorData(6)->GetInfor(), 3);
    EXPECT_EQ(p.GetColorData(6)->Page, 21);
    EXPECT_EQ(p.GetColorData(7)->GetInfor(), 0x8005);
    EXPECT_EQ(p.GetColor(255), 0x00090909u);

    // An old id 50 read as 0xFFFF survives a save and a load unchanged.
    TPalette q;
    std::string saved = p.SaveToMemory();
    ASSERT_TRUE(q.LoadFromMemory(saved.data(), saved.size()));
    EXPECT_EQ(q.GetColorData(3)->Additional.GetTag(1).Id, -1);
    ExpectSameEntries(p, q);
}

TEST(PaletteFile, Version111ChangesOnlyTheCount) {
    TPalette p;
    Fill(p);
    TPalette before;
    Fill(before);
    Bytes f = palettebytes::Header(111);
    f.Raw(palettebytes::PlainEntry2(1, 1, 1).s);
    ASSERT_TRUE(Load(p, f));
    EXPECT_EQ(p.GetColorCount(), 256);
    EXPECT_EQ(p.GetUseColor(), 200);
    ExpectSameEntries(p, before);
}

TEST(PaletteFile, HeaderlessLegacyPalette) {
    Bytes f;
    f.U8(0).U8(63).U8(0).U8(32).U16(0).U8(0).U8(0);  // record 0 -> entry 1
    f.U8(1).U8(1).U8(2).U8(3).U16(11).U8(5).U8(0);   // record 1 -> entry 2
    for (int r = 2; r < 224; ++r)
        f.U8(3).U8(10).U8(10).U8(10).U16(9).U8(9).U8(0);
    f.U8(2).U8(0).U8(0).U8(63).U16(5).U8(1).U8(0);  // record 224 -> entry 225
    ASSERT_EQ(f.s.size(), 1800u);

    TPalette p;
    Fill(p);
    for (int k : {0, 1, 255})
        p.GetColorData(k)->SetInforLegacy(0x80);
    ASSERT_TRUE(Load(p, f));
    EXPECT_EQ(p.GetColorCount(), 256);
    EXPECT_EQ(p.GetUseColor(), 200);
    EXPECT_EQ(p.GetColor(0), 0u);
    // SetNormal keeps the mark; a legacy record sets the whole info word.
    EXPECT_EQ(p.GetColorData(0)->GetInfor(), 0x8000);
    EXPECT_EQ(p.GetColorData(255)->GetInfor(), 0x8000);
    EXPECT_EQ(p.GetColorData(1)->GetInfor(), 0);
    const TColorData& e1 = *p.GetColorData(1);
    EXPECT_EQ(e1.GetKind(), 0);
    EXPECT_EQ(e1.Rgb, (tagRGBQUAD{130, 0, 255, 0}));
    EXPECT_EQ(p.GetColorData(2)->GetInfor(), 3);
    EXPECT_EQ(p.GetColorData(2)->Page, 20);
    EXPECT_EQ(p.GetColorData(2)->Number, 5);
    EXPECT_EQ(p.GetColorData(3)->GetInfor(), 0);  // kind 3 and above: no book
    EXPECT_EQ(p.GetColorData(3)->Page, 0);
    EXPECT_EQ(p.GetColor(3), 0x00282828u);
    EXPECT_EQ(p.GetColorData(225)->GetInfor(), 4);
    EXPECT_EQ(p.GetColorData(225)->Page, 1005);
    for (int k = 226; k < 256; ++k) {
        EXPECT_EQ(p.GetColor(k), PackColorRef(k, k, k));
        EXPECT_EQ(p.GetColorData(k)->GetKind(), 0);
        EXPECT_EQ(p.GetColorData(k)->Values[3], 999.0);
    }
    // A longer file is read for its first 1800 bytes only.
    f.Raw(std::string(100, '\xFF'));
    TPalette longer;
    Fill(longer);
    for (int k : {0, 1, 255}) longer.GetColorData(k)->SetInforLegacy(0x80);
    ASSERT_TRUE(Load(longer, f));
    ExpectSameEntries(p, longer);
}

TEST(PaletteFile, OldPantonePagesAreRenumberedFromEveryLayout) {
    struct Case {
        int kind;
        std::uint16_t page, wantKind, wantPage;
    };
    const Case cases[] = {{1, 11, 3, 20}, {1, 12, 3, 21}, {1, 14, 3, 14}, {2, 5, 4, 1005}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " page " << c.page);
        std::vector<std::pair<const char*, Bytes>> files;

        TPalette written;
        if (c.kind == 1)
            written.SetPantone1000(1, c.page, 2, 3, 4, 5);
        else
            written.SetPantoneTextile(1, c.page, 2, 3, 4, 5);
        files.push_back({"version 112", Bytes{written.SaveToMemory()}});

        Bytes v100 = palettebytes::Header(100);
        v100.Raw(palettebytes::Entry0(0, 0, 0, 0, 0, 0).s);
        v100.Raw(palettebytes::Entry0(c.kind, c.page, 2, 5, 4, 3).s);
        for (int k = 2; k < 256; ++k)
            v100.Raw(palettebytes::Entry0(0, 0, 0, 0, 0, 0).s);
        files.push_back({"version 100", v100});

        Bytes v110 = palettebytes::Header(110);
        v110.Raw(palettebytes::Entry1(0, 0, 0, 0, 0, 0).s);
        v110.Raw(palettebytes::Entry1(c.kind, c.page, 2, 5, 4, 3).s);
        for (int k = 2; k < 256; ++k)
            v110.Raw(palettebytes::Entry1(0, 0, 0, 0, 0, 0).s);
        files.push_back({"version 110", v110});

        Bytes legacy;
        legacy.U8(c.kind).U8(1).U8(1).U8(1).U16(c.page).U8(2).U8(0);
        legacy.Raw(std::string(1792, '\0'));
        // Entry k comes from record k - 1: put the colour in record 0, read as entry 1.
        files.push_back({"legacy", legacy});

        for (const auto& [name, bytes] : files) {
            SCOPED_TRACE(name);
            TPalette p;
            ASSERT_TRUE(Load(p, bytes));
            EXPECT_EQ(p.GetColorData(1)->GetInfor(), c.wantKind);
            EXPECT_EQ(p.GetColorData(1)->Page, c.wantPage);
            EXPECT_EQ(p.GetColorData(1)->Number, 2);
        }
    }
}

TEST(PaletteFile, ShortOrCorruptFilesChangeNothing) {
    // A valid file to start from: entry 9 has both names and two tags.
    Bytes entry9 = palettebytes::Entry2(0, 0x3000, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 1, 2, 3, 999);
    entry9.WideText(u"Name").WideText(u"File");
    entry9.U8(255).U32(2).U16(1).U16(4).U32(2).U32(5).U32(6).U16(2).U16(1).U32(1).U8(7);
    const Bytes valid = File112With(9, entry9);
    {
        TPalette p;
        ASSERT_TRUE(Load(p, valid));
        ASSERT_EQ(p.GetColorData(9)->Additional.GetCount(), 2);
    }
    const std::size_t at9 = 8 + 9 * 53;        // entry 9
    const std::size_t text = at9 + 53;         // its colour name's count
    const std::size_t block = text + 12 + 12;  // its block: 255, tag count
    const std::size_t tag0 = block + 5;        // first tag: id, type, count
    auto patched = [&](std::size_t at, const Bytes& with) {
        Bytes b = valid;
        b.s.replace(at, with.s.size(), with.s);
        return b;
    };
    auto cut = [&](std::size_t size) { return Bytes{valid.s.substr(0, size)}; };
    Bytes v100 = palettebytes::Header(100);
    for (int k = 0; k < 255; ++k)
        v100.Raw(palettebytes::Entry0(0, 0, 0, 1, 1, 1).s);
    Bytes v105 = palettebytes::Header(105);
    v105.Raw(palettebytes::Entry1(0x10, 0, 0, 0, 0, 0).s).U16(10).Raw("short");
    Bytes v105type50 = palettebytes::Header(105);
    v105type50.Raw(palettebytes::Entry1(6, 0, 0, 0, 0, 0).s).AnsiText("");
    v105type50.U8(255).U32(1).U16(3).U16(50).U32(0);
    for (int k = 1; k < 256; ++k)
        v105type50.Raw(palettebytes::Entry1(0, 0, 0, 0, 0, 0).s);

    Bytes minusOne;
    minusOne.U32(0xFFFFFFFF);
    Bytes hugeCount;
    hugeCount.U32(0x7FFFFFFF);
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", Bytes{}},
        {"one byte", Bytes{"C"}},
        {"no version", Bytes{"CP"}},
        {"header cut", cut(6)},
        {"255 entries", cut(8 + 255 * 53)},
        {"cut in an entry", cut(at9 + 20)},
        {"cut in a name", cut(text + 5)},
        {"cut in tag data", Bytes{valid.s.substr(0, tag0 + 8 + 4)}},
        {"text count 0", patched(text, Bytes{}.U16(0))},
        {"text count beyond the end", patched(text, Bytes{}.U16(40000))},
        {"negative tag count", patched(block + 1, minusOne)},
        {"huge tag count", patched(block + 1, hugeCount)},
        {"tag type 0", patched(tag0 + 2, Bytes{}.U16(0))},
        {"tag type 7", patched(tag0 + 2, Bytes{}.U16(7))},
        {"tag type 0xFFFF", patched(tag0 + 2, Bytes{}.U16(0xFFFF))},
        {"negative element count", patched(tag0 + 4, minusOne)},
        {"huge element count", patched(tag0 + 4, Bytes{}.U32(0x40000000))},
        {"version 100 short by an entry", v100},
        {"version 105 name beyond the end", v105},
        {"version 105 old type 50 has no size", v105type50},
        {"legacy 1799 bytes", Bytes{std::string(1799, '\x01')}},
        {"legacy 2 bytes", Bytes{"AB"}},
    };
    TPalette reference;
    Fill(reference);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        TPalette p;
        Fill(p);
        EXPECT_FALSE(Load(p, bytes));
        EXPECT_EQ(p.GetColorCount(), 256);
        EXPECT_EQ(p.GetUseColor(), 200);
        ExpectSameEntries(p, reference);
    }
}

TEST(PaletteFile, LoadFromFileResults) {
    testsupport::TempDir dir;
    TPalette p;
    Fill(p);
    EXPECT_FALSE(p.LoadFromFile(dir.File("missing.pal")));
    EXPECT_EQ(p.GetColorCount(), 256);  // set before the open
    p.SetColorCount(5);
    testsupport::WriteFile(dir.File("short.pal"), std::string("CP\x70\x00\x01", 5));
    EXPECT_FALSE(p.LoadFromFile(dir.File("short.pal")));
    EXPECT_EQ(p.GetColorCount(), 256);
    EXPECT_EQ(p.GetUseColor(), 200);
    // Only a regular file holds a palette; a FIFO without a writer does not hang.
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(p.LoadFromFile(dir.File("fifo")));
    EXPECT_FALSE(p.LoadFromFile(dir.Path()));
    TPalette reference;
    Fill(reference);
    ExpectSameEntries(p, reference);
}

TEST(PaletteFile, FileReadsAcrossItsBufferAgreeWithMemory) {
    // Entry 0 carries a tag so large that entry 1, which has no block, ends
    // exactly at 64 KiB: the byte after it (entry 2's mark) starts a new
    // buffer fill and must still be given back.
    TPalette p;
    for (int k = 0; k < 256; ++k)
        p.SetNormal(k, 1, 2, std::uint8_t(k));
    std::vector<std::uint8_t> big(65409);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = std::uint8_t(i * 7);
    p.GetColorData(0)->Additional.Add(300, 1, std::int32_t(big.size()), big.data());
    p.GetColorData(200)->Additional.Add(301, 4, 100000,
                                        std::vector<std::uint8_t>(400000, 3).data());
    std::string bytes = p.SaveToMemory();
    ASSERT_EQ(bytes[65536], 1);
    ASSERT_EQ(bytes[65535 - 52], 1);  // entry 1's mark: it has no block

    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("big.pal"), bytes);
    TPalette q;
    ASSERT_TRUE(q.LoadFromFile(dir.File("big.pal")));
    ExpectSameEntries(p, q);
}

TEST(PaletteFile, SaveWritesInPlaceAndCutsTheFile) {
    testsupport::TempDir dir;
    const std::string path = dir.File("over.pal");
    // An old, longer file whose byte after the new last entry would start a block.
    testsupport::WriteFile(path, std::string(40000, '\xFF'));
    ::chmod(path.c_str(), 0640);
    TPalette p;
    for (int k = 0; k < 256; ++k)
        p.SetNormal(k, std::uint8_t(k), 0, 0);
    p.SaveToFile(path);
    std::string stored = testsupport::ReadFile(path);
    EXPECT_EQ(stored, p.SaveToMemory());
    EXPECT_EQ(stored.size(), 8u + 256u * 53u);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the same file, written over

    TPalette q;
    ASSERT_TRUE(q.LoadFromFile(path));
    EXPECT_EQ(q.GetColorData(255)->Additional.GetCount(), 0);
    ExpectSameEntries(p, q);
}

TEST(PaletteFile, SaveFailuresRaise) {
    testsupport::TempDir dir;
    TPalette p;
    struct Case {
        std::string path;
        std::string message;
    };
    std::vector<Case> cases = {
        {dir.File("no/such/folder.pal"), "Cannot open file" + dir.File("no/such/folder.pal")},
        {dir.Path(), "Cannot open file" + dir.Path()},
    };
    if (::access("/dev/full", W_OK) == 0)
        cases.push_back({"/dev/full", "Cannot write file/dev/full"});
    for (const Case& c : cases) {
        try {
            p.SaveToFile(c.path);
            ADD_FAILURE() << "no exception for " << c.path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}
