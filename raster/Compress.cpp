#include "raster/Compress.h"

#include <zlib.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace quillor {

namespace {

constexpr std::size_t kPrefixBytes = 4;

void PutLength(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

std::uint32_t GetLength(const unsigned char* in) {
    return std::uint32_t(in[0]) | (std::uint32_t(in[1]) << 8) | (std::uint32_t(in[2]) << 16) |
           (std::uint32_t(in[3]) << 24);
}

bool WriteRawWithPrefix(platform::File& file, const void* buffer, std::size_t size) {
    unsigned char prefix[kPrefixBytes];
    PutLength(prefix, static_cast<std::uint32_t>(size));
    return file.Write(prefix, kPrefixBytes) && file.Write(buffer, size);
}

}  // namespace

bool WriteBlock(platform::File& file, const void* buffer, std::size_t size, int mode) {
    if (mode == kCompressRefused)
        return false;
    if (mode != kCompressZlib)
        return file.Write(buffer, size);
    if (size > std::numeric_limits<std::uint32_t>::max())
        return false;
    if (size == 0)
        return WriteRawWithPrefix(file, buffer, 0);

    // One output buffer large enough for any result: the prefix, then the
    // stream. compressBound covers the worst case, so compress never fails
    // for lack of room.
    const uLong bound = compressBound(static_cast<uLong>(size));
    std::unique_ptr<unsigned char[]> out(new (std::nothrow) unsigned char[kPrefixBytes + bound]);
    if (!out)
        return false;
    uLongf length = bound;
    const int result = compress(out.get() + kPrefixBytes, &length,
                                static_cast<const Bytef*>(buffer), static_cast<uLong>(size));
    if (result != Z_OK || length >= size)
        return WriteRawWithPrefix(file, buffer, size);
    PutLength(out.get(), static_cast<std::uint32_t>(length));
    return file.Write(out.get(), kPrefixBytes + length);
}

bool ReadBlock(platform::File& file, void* buffer, std::size_t size, int mode) {
    if (mode == kCompressRefused)
        return false;
    if (mode != kCompressZlib)
        return file.Read(buffer, size);

    unsigned char prefix[kPrefixBytes];
    if (!file.Read(prefix, kPrefixBytes))
        return false;
    const std::uint32_t stored = GetLength(prefix);
    if (stored > size)
        return false;  // corrupt: never longer than the block
    if (stored == size)
        return file.Read(buffer, size);

    std::unique_ptr<unsigned char[]> in(new (std::nothrow) unsigned char[stored ? stored : 1]);
    if (!in)
        return false;
    if (!file.Read(in.get(), stored))
        return false;
    uLongf inflated = static_cast<uLongf>(size);
    const int result = uncompress(static_cast<Bytef*>(buffer), &inflated, in.get(), stored);
    return result == Z_OK && inflated == size;
}

}  // namespace quillor
