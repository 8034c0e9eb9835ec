// The colour record: setters, info word, copies, kind upgrades, legacy
// records and the tag list.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "colour/Tclrutil.h"

using namespace quillor;

namespace {

// A record with something in every field, so that a setter that forgets to
// reset one shows.
TColorData DirtyRecord() {
    TColorData d;
    d.SetUserColor(0, 77, 8, 1, 2, 3, u"old.file", u"old name");
    d.SetInforLegacy(0x80);  // the mark, bit 15
    d.SetColorName(u"old name");
    d.SetFileName(u"old.file");
    d.Status = 9;
    d.Extra = 4;
    d.Extra1 = -5;
    d.Extra2 = 6;
    d.Extra3 = -7;
    d.Rgb.rgbReserved = 0xAA;
    d.Values[3] = 1.5;
    std::uint8_t bytes[3] = {1, 2, 3};
    d.Additional.Add(5, 1, 3, bytes);
    return d;
}

}  // namespace

TEST(ColorData, NewRecordIsEmpty) {
    TColorData d;
    EXPECT_EQ(d.Status, 0);
    EXPECT_EQ(d.GetInfor(), 0);
    EXPECT_EQ(d.Page, 0);
    EXPECT_EQ(d.Number, 0);
    EXPECT_EQ(d.Extra, 0);
    EXPECT_EQ(d.Extra1, 0);
    EXPECT_EQ(d.Extra2, 0);
    EXPECT_EQ(d.Extra3, 0);
    EXPECT_EQ(d.Rgb, tagRGBQUAD{});
    for (double v : d.Values)
        EXPECT_EQ(v, 999.0);
    EXPECT_EQ(d.GetColorName(), nullptr);
    EXPECT_EQ(d.GetFileName(), nullptr);
    EXPECT_EQ(d.Additional.GetCount(), 0);
}

TEST(ColorData, KindSettersResetEverythingButTheMark) {
    struct Case {
        const char* name;
        std::function<void(TColorData&)> set;
        int kind;
        int page;
        int number;
    };
    const std::vector<Case> cases = {
        {"SetNormal", [](TColorData& d) { d.SetNormal(10, 20, 30); }, 0, 0, 0},
        {"SetPrinterColor", [](TColorData& d) { d.SetPrinterColor(300, 7, 10, 20, 30); }, 0, 300,
         7},
        {"SetPantone1000", [](TColorData& d) { d.SetPantone1000(11, 7, 10, 20, 30); }, 1, 11, 7},
        {"SetPantoneTextile", [](TColorData& d) { d.SetPantoneTextile(5, 7, 10, 20, 30); }, 2, 5,
         7},
        {"SetTQStandardColor", [](TColorData& d) { d.SetTQStandardColor(9, 7, 10, 20, 30); }, 3, 9,
         7},
        {"SetTQTextileColor", [](TColorData& d) { d.SetTQTextileColor(65535, 255, 10, 20, 30); }, 4,
         65535, 255},
        {"SetPantoneColor", [](TColorData& d) { d.SetPantoneColor(1, 2, 10, 20, 30); }, 5, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TColorData d = DirtyRecord();
        ASSERT_EQ(d.GetInfor() & 0x8000, 0x8000);
        c.set(d);
        EXPECT_EQ(d.GetInfor(), 0x8000 | c.kind);
        EXPECT_EQ(d.Page, c.page);
        EXPECT_EQ(d.Number, c.number);
        EXPECT_EQ(d.Status, 0);
        EXPECT_EQ(d.Extra, 0);
        EXPECT_EQ(d.Extra1, 0);
        EXPECT_EQ(d.Extra2, 0);
        EXPECT_EQ(d.Extra3, 0);
        EXPECT_EQ(d.Rgb, (tagRGBQUAD{30, 20, 10, 0}));
        EXPECT_EQ(d.Values[0], 10.0);
        EXPECT_EQ(d.Values[1], 20.0);
        EXPECT_EQ(d.Values[2], 30.0);
        EXPECT_EQ(d.Values[3], 999.0);
        EXPECT_EQ(d.GetColorName(), nullptr);
        EXPECT_EQ(d.GetFileName(), nullptr);
        EXPECT_EQ(d.Additional.GetCount(), 0);
        EXPECT_EQ(d.GetColorRef(), 0x001E140Au);
    }
}

TEST(ColorData, UserColorNamesArePresentExactlyWhenPassed) {
    struct Case {
        std::optional<std::u16string_view> file;
        std::optional<std::u16string_view> name;
        std::uint16_t infor;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, 0x4000},
        {u"a.pal", std::nullopt, 0x6000},
        {std::nullopt, u"Sky", 0x5000},
        {u"a.pal", u"Sky", 0x7000},
        {u"", u"", 0x7000},  // an empty text that is passed counts as present
    };
    for (const Case& c : cases) {
        TColorData d = DirtyRecord();
        d.SetUserColor(0xFFFF, 12, 3, 1, 2, 3, c.file, c.name, u"ignored", u"ignored");
        EXPECT_EQ(d.GetInfor(), 0x8000 | c.infor);
        EXPECT_EQ(d.Page, 12);
        EXPECT_EQ(d.Number, 3);
        EXPECT_EQ(d.GetFileName() != nullptr, c.file.has_value());
        EXPECT_EQ(d.GetColorName() != nullptr, c.name.has_value());
        if (c.file) {
            EXPECT_EQ(*d.GetFileName(), *c.file);
        }
        if (c.name) {
            EXPECT_EQ(*d.GetColorName(), *c.name);
        }
        EXPECT_EQ(d.Additional.GetCount(), 0);
    }
}

TEST(ColorData, NamesFollowTheirInfoBits) {
    TColorData d;
    d.SetUserColor(0, 0, 0, 0, 0, 0, u"f", u"n");
    d.SetKind(0x4000 | 0x1000);  // the file-name bit goes, and the file name with it
    EXPECT_EQ(d.GetFileName(), nullptr);
    ASSERT_NE(d.GetColorName(), nullptr);
    EXPECT_EQ(*d.GetColorName(), u"n");
    d.SetKind(0x2000);  // a bit without a name brings an empty one
    ASSERT_NE(d.GetFileName(), nullptr);
    EXPECT_EQ(*d.GetFileName(), u"");
    EXPECT_EQ(d.GetColorName(), nullptr);

    // Names are C strings of at most 65534 units.
    d.SetColorName(std::u16string_view(u"ab\0cd", 5));
    EXPECT_EQ(*d.GetColorName(), u"ab");
    d.SetColorName(std::u16string(70000, u'x'));
    EXPECT_EQ(d.GetColorName()->size(), kMaxColorTextLength);
    d.SetColorName(std::nullopt);
    EXPECT_EQ(d.GetInfor() & 0x1000, 0);
}

TEST(ColorData, SetKindKeepsBit15) {
    TColorData d;
    d.SetKind(0xFFFF);
    EXPECT_EQ(d.GetInfor(), 0x7FFF);  // bit 15 cannot be set through SetKind
    d.SetInforLegacy(0x85);
    ASSERT_EQ(d.GetInfor(), 0xC005);
    d.SetKind(3);
    EXPECT_EQ(d.GetInfor(), 0x8003);
}

TEST(ColorData, SetInforLegacy) {
    const std::pair<std::uint16_t, std::uint16_t> cases[] = {
        {0, 0},        {3, 3},        {15, 15},       {16, 0x4000},     {0x13, 0x4003},
        {127, 0x400F}, {128, 0xC000}, {0x93, 0xC003}, {0x4003, 0xC003}, {0xFFFF, 0xC00F},
    };
    for (auto [legacy, infor] : cases) {
        TColorData d;
        d.SetInforLegacy(0x80);  // a mark to clear
        d.SetInforLegacy(legacy);
        EXPECT_EQ(d.GetInfor(), infor) << "legacy " << legacy;
    }
}

TEST(ColorData, AssignCopiesEveryFieldAndOwnsItsCopy) {
    TColorData source = DirtyRecord();
    TColorData copy;
    copy.Assign(source);
    EXPECT_TRUE(copy == source);
    copy.SetColorName(u"changed");
    copy.Additional.Clear();
    EXPECT_EQ(*source.GetColorName(), u"old name");
    EXPECT_EQ(source.Additional.GetCount(), 1);
    copy.Assign(copy);  // assigning to itself keeps it
    EXPECT_EQ(*copy.GetColorName(), u"changed");
}

TEST(ColorData, CopyingSettersMarkTheEntryAndLeaveTheSource) {
    TColorData plain;
    plain.SetNormal(1, 2, 3);
    const std::uint8_t note[] = "x";
    plain.Additional.Add(101, 2, 2, note);

    TColorData pantone;
    pantone.SetPantoneColor2(plain);
    EXPECT_EQ(pantone.GetKind(), 6);  // a copied kind-0 colour becomes kind 6
    EXPECT_EQ(pantone.Additional.GetCount(), 1);
    EXPECT_EQ(plain.GetKind(), 0);

    TColorData book;
    book.SetTQStandardColor(4, 5, 1, 2, 3);
    pantone.SetPantoneColor2(book);
    EXPECT_EQ(pantone.GetKind(), 3 | 6);  // the kind is OR-ed, not replaced

    TColorData user;
    user.SetUserColor(book);
    EXPECT_EQ(user.GetInfor(), 0x4003);
    EXPECT_EQ(user.Page, 4);
    EXPECT_EQ(book.GetInfor(), 3);

    user.SetUserColor(user);  // from itself
    EXPECT_EQ(user.GetInfor(), 0x4003);
}

TEST(ColorData, UpgradeKind) {
    struct Case {
        std::uint16_t infor, page, wantInfor, wantPage;
    };
    const Case cases[] = {
        {1, 11, 3, 20},           {1, 12, 3, 21}, {1, 1020, 3, 167},        {1, 1010, 3, 166},
        {1, 14, 3, 14},           {1, 0, 3, 0},   {0x8001, 13, 0x8003, 22}, {2, 5, 4, 1005},
        {2, 65000, 4, 464},       {0, 11, 0, 11}, {3, 11, 3, 11},           {6, 11, 6, 11},
        {0x4001, 11, 0x4003, 20},
    };
    for (const Case& c : cases) {
        TColorData d;
        d.SetInforLegacy(c.infor & 0x8000 ? 0x80 : 0);
        d.SetKind(c.infor);
        d.Page = c.page;
        d.UpgradeKind();
        EXPECT_EQ(d.GetInfor(), c.wantInfor) << c.infor << "/" << c.page;
        EXPECT_EQ(d.Page, c.wantPage) << c.infor << "/" << c.page;
    }
}

TEST(ColorData, LegacyRecords) {
    struct Case {
        std::uint8_t record[8];
        std::uint16_t infor, page;
        std::uint8_t number, red, green, blue;
    };
    const Case cases[] = {
        {{0, 63, 0, 32, 0x34, 0x12, 9, 0xFF}, 0, 0x1234, 9, 255, 0, 130},
        {{1, 1, 16, 62, 11, 0, 3, 0}, 3, 20, 3, 4, 65, 251},
        {{2, 0, 0, 0, 5, 0, 1, 0}, 4, 1005, 1, 0, 0, 0},
        {{3, 63, 63, 63, 11, 0, 4, 0}, 0, 0, 0, 255, 255, 255},
        {{200, 64, 255, 0, 11, 0, 4, 0}, 0, 0, 0, 4, 255, 0},  // out of range: masked to 8 bits
    };
    for (const Case& c : cases) {
        TColorData d = DirtyRecord();
        d.SetFromLegacyRecord(c.record);
        EXPECT_EQ(d.GetInfor(), c.infor);
        EXPECT_EQ(d.Page, c.page);
        EXPECT_EQ(d.Number, c.number);
        EXPECT_EQ(d.Rgb, (tagRGBQUAD{c.blue, c.green, c.red, 0}));
        EXPECT_EQ(d.Values[0], c.red);
        EXPECT_EQ(d.Values[1], c.green);
        EXPECT_EQ(d.Values[2], c.blue);
        EXPECT_EQ(d.Values[3], 999.0);
        EXPECT_EQ(d.Status, 0);
        EXPECT_EQ(d.Extra1, 0);
        EXPECT_EQ(d.GetColorName(), nullptr);
        EXPECT_EQ(d.Additional.GetCount(), 0);
    }
}

TEST(AdditionalColorData, ElementSizes) {
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 1},  {3, 2},  {6, 2},   {4, 4},
                                         {5, 4}, {0, -1}, {7, -1}, {-1, -1}, {50, -1}};
    for (auto [type, size] : sizes)
        EXPECT_EQ(ElementSize(type), size) << type;
}

TEST(AdditionalColorData, AddCopiesAndRefusesWhatCannotBeStored) {
    TAdditionalColorData list;
    std::uint8_t data[16];
    for (int i = 0; i < 16; ++i)
        data[i] = std::uint8_t(i);
    EXPECT_TRUE(list.Add(1, 4, 3, data));  // 12 bytes
    EXPECT_TRUE(list.Add(2, 6, 2, data));  // 4 bytes
    EXPECT_TRUE(list.Add(1, 1, 1, data + 5));
    EXPECT_TRUE(list.Add(3, 2, 0, nullptr));
    EXPECT_FALSE(list.Add(4, 7, 1, data));   // no element size
    EXPECT_FALSE(list.Add(4, -1, 0, data));  // no element size
    EXPECT_FALSE(list.Add(4, 1, -1, data));  // negative count
    EXPECT_FALSE(list.Add(4, 1, 2, nullptr));
    ASSERT_EQ(list.GetCount(), 4);
    const std::vector<std::uint8_t> first(data, data + 12);
    data[0] = 99;  // the list holds copies
    EXPECT_EQ(list.GetTag(0).Data, first);
    EXPECT_EQ(list.GetTag(1).Data.size(), 4u);

    ASSERT_NE(list.Find(1), nullptr);
    EXPECT_EQ(list.Find(1)->size(), 12u);  // the first tag with the id
    EXPECT_EQ(list.Find(9), nullptr);

    TAdditionalColorData other;
    other.Add(7, 1, 1, data);
    other.AppendCopies(list);
    ASSERT_EQ(other.GetCount(), 5);
    EXPECT_EQ(other.GetTag(0).Id, 7);
    EXPECT_EQ(other.GetTag(1).Id, 1);
    EXPECT_EQ(other.GetTag(4).Id, 3);
    other.AppendCopies(other);
    EXPECT_EQ(other.GetCount(), 10);
    other.Clear();
    EXPECT_EQ(other.GetCount(), 0);
    EXPECT_EQ(list.GetCount(), 4);
}
