#include "raster/Compress.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

using quillor::ReadBlock;
using quillor::WriteBlock;

namespace {

class CompressTest : public ::testing::Test {
  protected:
    // A fresh read-write file holding the given bytes, positioned at 0.
    platform::File Open(const std::string& bytes = {}) {
        testsupport::WriteFile(path_, bytes);
        platform::File file = platform::File::Open(path_, O_RDWR);
        EXPECT_TRUE(file.IsOpen());
        return file;
    }
    std::string Contents() const { return testsupport::ReadFile(path_); }

    testsupport::TempDir dir_;
    std::string path_ = dir_.File("block");
};

std::vector<unsigned char> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(rng());
    return v;
}

std::string LengthPrefix(std::uint32_t n) {
    return std::string{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF),
                       char((n >> 24) & 0xFF)};
}

std::uint32_t StoredLength(const std::string& s) {
    return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
           std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}

TEST_F(CompressTest, ZeroBlockIsCompressedAndReadsBack) {
    std::vector<unsigned char> zeros(1000, 0);
    {
        platform::File f = Open();
        ASSERT_TRUE(WriteBlock(f, zeros.data(), zeros.size(), 2));
    }
    const std::string stored = Contents();
    ASSERT_GE(stored.size(), 4u);
    const std::uint32_t length = StoredLength(stored);
    EXPECT_LT(length, 100u);
    EXPECT_EQ(stored.size(), 4u + length);
    EXPECT_EQ(std::uint8_t(stored[4]), 0x78);  // a zlib header

    platform::File f = Open(stored);
    std::vector<unsigned char> back(1000, 0xAA);
    ASSERT_TRUE(ReadBlock(f, back.data(), back.size(), 2));
    EXPECT_EQ(back, zeros);
    EXPECT_EQ(f.Position(), std::int64_t(stored.size()));
}

TEST_F(CompressTest, IncompressibleBlockIsStoredRawWithItsSize) {
    const auto noise = RandomBytes(4096, 7);
    {
        platform::File f = Open();
        ASSERT_TRUE(WriteBlock(f, noise.data(), noise.size(), 2));
    }
    const std::string stored = Contents();
    ASSERT_EQ(stored.size(), 4u + noise.size());
    EXPECT_EQ(stored.substr(0, 4), LengthPrefix(4096));
    EXPECT_EQ(0, std::memcmp(stored.data() + 4, noise.data(), noise.size()));

    platform::File f = Open(stored);
    std::vector<unsigned char> back(noise.size());
    ASSERT_TRUE(ReadBlock(f, back.data(), back.size(), 2));
    EXPECT_EQ(back, noise);
}

TEST_F(CompressTest, RawModesWriteTheBlockAloneAndModeOneIsRefused) {
    const std::string data = "pixels";
    struct Case {
        int mode;
        bool ok;
        std::string stored;
    };
    const Case cases[] = {{0, true, data}, {7, true, data}, {255, true, data}, {1, false, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        {
            platform::File f = Open();
            EXPECT_EQ(WriteBlock(f, data.data(), data.size(), c.mode), c.ok);
        }
        EXPECT_EQ(Contents(), c.stored);
        platform::File f = Open(data);
        std::string back(data.size(), '\0');
        EXPECT_EQ(ReadBlock(f, back.data(), back.size(), c.mode), c.ok);
        EXPECT_EQ(back, c.ok ? data : std::string(data.size(), '\0'));
        EXPECT_EQ(f.Position(), c.ok ? std::int64_t(data.size()) : 0);
    }
}

TEST_F(CompressTest, EmptyBlockIsAZeroLength) {
    {
        platform::File f = Open();
        ASSERT_TRUE(WriteBlock(f, nullptr, 0, 2));
    }
    EXPECT_EQ(Contents(), LengthPrefix(0));
    platform::File f = Open(LengthPrefix(0));
    EXPECT_TRUE(ReadBlock(f, nullptr, 0, 2));
}

TEST_F(CompressTest, SeveralBlocksFollowEachOther) {
    const auto a = RandomBytes(300, 1);
    const std::vector<unsigned char> b(5000, 9);
    {
        platform::File f = Open();
        ASSERT_TRUE(WriteBlock(f, a.data(), a.size(), 2));
        ASSERT_TRUE(WriteBlock(f, b.data(), b.size(), 2));
        ASSERT_TRUE(WriteBlock(f, a.data(), a.size(), 0));
    }
    platform::File f = Open(Contents());
    std::vector<unsigned char> a2(a.size()), b2(b.size()), a3(a.size());
    ASSERT_TRUE(ReadBlock(f, a2.data(), a2.size(), 2));
    ASSERT_TRUE(ReadBlock(f, b2.data(), b2.size(), 2));
    ASSERT_TRUE(ReadBlock(f, a3.data(), a3.size(), 0));
    EXPECT_EQ(a2, a);
    EXPECT_EQ(b2, b);
    EXPECT_EQ(a3, a);
}

// Blocks from another zlib writer read back exactly. The streams were made
// with Python 3's zlib:
//  - zlib.compress(bytes(range(16)) * 4 + b'\xff' * 64, 6): level 6, window
//    bits 15, memory level 8, default strategy; 30 bytes for 128.
//  - zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_DEFAULT_STRATEGY) over
//    b'abc' * 100; 15 bytes for 300.
//  - zlib.compressobj(1, zlib.DEFLATED, 9, 1, zlib.Z_HUFFMAN_ONLY) over
//    b'abcd' * 50 (a 512-byte window, Huffman codes only); 91 bytes for 200.
TEST_F(CompressTest, ReadsStreamsOfAnIndependentWriter) {
    std::string ramp;
    for (int i = 0; i < 4; ++i)
        for (int v = 0; v < 16; ++v)
            ramp += char(v);
    ramp += std::string(64, '\xff');
    std::string abc, abcd;
    for (int i = 0; i < 100; ++i)
        abc += "abc";
    for (int i = 0; i < 50; ++i)
        abcd += "abcd";
    const std::vector<unsigned char> level6 = {
        0x78, 0x9c, 0x63, 0x60, 0x64, 0x62, 0x66, 0x61, 0x65, 0x63, 0xe7, 0xe0, 0xe4, 0xe2, 0xe6,
        0xe1, 0xe5, 0xe3, 0x67, 0x20, 0x91, 0xff, 0x9f, 0x42, 0x00, 0x00, 0xc8, 0x78, 0x41, 0xa1};
    const std::vector<unsigned char> level9 = {0x78, 0xda, 0x4b, 0x4c, 0x4a, 0x4e, 0x1c, 0x45,
                                               0xc4, 0x21, 0x00, 0x88, 0x4d, 0x72, 0xd9};
    const std::vector<unsigned char> huffman = {
        0x18, 0x19, 0x04, 0xc1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x82, 0xa0, 0xad, 0x6a,
        0xff, 0x37, 0x04, 0xd8, 0xb0, 0x61, 0xc3, 0x86, 0x0d, 0x1b, 0x36, 0x6c, 0xd8,
        0xb0, 0x61, 0xc3, 0x86, 0x0d, 0x1b, 0x36, 0x6c, 0xd8, 0xb0, 0x61, 0xc3, 0x86,
        0x0d, 0x1b, 0x36, 0x6c, 0xd8, 0xb0, 0x61, 0xc3, 0x86, 0x0d, 0x1b, 0x36, 0xec,
        0x05, 0xc1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x82, 0xa0, 0xad, 0xa6, 0xff, 0x37,
        0x04, 0x31, 0x63, 0xc6, 0x8c, 0x19, 0x33, 0x66, 0xcc, 0x98, 0x31, 0x63, 0xc6,
        0x8c, 0x19, 0x33, 0x66, 0xcc, 0x98, 0x31, 0x63, 0x76, 0x37, 0x5a, 0x4c, 0xf5};
    struct Case {
        const std::vector<unsigned char>& stream;
        const std::string& expected;
    };
    const Case cases[] = {{level6, ramp}, {level9, abc}, {huffman, abcd}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.size());
        ASSERT_LT(c.stream.size(), c.expected.size());
        platform::File f = Open(LengthPrefix(std::uint32_t(c.stream.size())) +
                                std::string(c.stream.begin(), c.stream.end()));
        std::string back(c.expected.size(), '\0');
        ASSERT_TRUE(ReadBlock(f, back.data(), back.size(), 2));
        EXPECT_EQ(back, c.expected);
    }
}

// Damaged blocks are refused, and nothing is written past the buffer.
TEST_F(CompressTest, CorruptTruncatedAndOversizedBlocksFail) {
    std::vector<unsigned char> block(2000);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i / 100);
    {
        platform::File f = Open();
        ASSERT_TRUE(WriteBlock(f, block.data(), block.size(), 2));
    }
    const std::string good = Contents();
    const std::uint32_t length = StoredLength(good);
    ASSERT_LT(length, 200u);

    std::string flipped = good;
    flipped[4 + length / 2] = char(flipped[4 + length / 2] ^ 0x5A);
    std::string badChecksum = good;
    badChecksum.back() = char(badChecksum.back() ^ 1);
    std::string shortLength = good;  // claims fewer bytes than the stream has
    shortLength.replace(0, 4, LengthPrefix(length - 5));

    struct Case {
        const char* name;
        std::string stored;
        std::size_t size;  // the size the reader asks for
    };
    const Case cases[] = {
        {"flipped byte", flipped, block.size()},
        {"bad checksum", badChecksum, block.size()},
        {"truncated file", good.substr(0, good.size() - 3), block.size()},
        {"prefix only", good.substr(0, 4), block.size()},
        {"short prefix", good.substr(0, 2), block.size()},
        {"stream cut short by its length", shortLength, block.size()},
        {"inflates to more than asked", good, block.size() - 1},
        {"inflates to less than asked", good, block.size() + 1},
        {"length above the size", LengthPrefix(2001) + std::string(2001, 'x'), 2000},
        {"zero length for a non-empty block", LengthPrefix(0), 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::File f = Open(c.stored);
        // A guard zone after the buffer must stay untouched.
        std::vector<unsigned char> buffer(c.size + 64, 0xEE);
        EXPECT_FALSE(ReadBlock(f, buffer.data(), c.size, 2));
        for (std::size_t i = c.size; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xEE) << i;
    }
}

}  // namespace
