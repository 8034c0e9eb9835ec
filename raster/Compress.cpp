#include "raster/Compress.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace quillor {

namespace {

constexpr std::size_t kPrefixBytes = 4;

}  // namespace

void PutLe32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetLe32(const std::uint8_t* in) {
    return std::uint32_t(in[0]) | (std::uint32_t(in[1]) << 8) | (std::uint32_t(in[2]) << 16) |
           (std::uint32_t(in[3]) << 24);
}

bool EncodeBlock(const void* buffer, std::size_t size, std::vector<std::uint8_t>& out) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        return false;
    // Room for any result: the prefix, then the stream (compressBound covers
    // the worst case, so compress never fails for lack of room) or the block.
    const uLong bound = compressBound(static_cast<uLong>(size));
    try {
        out.resize(kPrefixBytes + std::max<std::size_t>(bound, size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    uLongf length = bound;
    const int result = size == 0
                           ? Z_BUF_ERROR
                           : compress(out.data() + kPrefixBytes, &length,
                                      static_cast<const Bytef*>(buffer), static_cast<uLong>(size));
    if (result != Z_OK || length >= size) {
        // Compression does not pay: the block itself.
        PutLe32(out.data(), static_cast<std::uint32_t>(size));
        if (size != 0)
            std::memcpy(out.data() + kPrefixBytes, buffer, size);
        out.resize(kPrefixBytes + size);
    } else {
        PutLe32(out.data(), static_cast<std::uint32_t>(length));
        out.resize(kPrefixBytes + length);
    }
    return true;
}

bool WriteBlock(platform::File& file, const void* buffer, std::size_t size, int mode,
                std::vector<std::uint8_t>& scratch) {
    if (mode == kCompressRefused)
        return false;
    if (mode != kCompressZlib)
        return file.Write(buffer, size);
    return EncodeBlock(buffer, size, scratch) && file.Write(scratch.data(), scratch.size());
}

bool WriteBlock(platform::File& file, const void* buffer, std::size_t size, int mode) {
    std::vector<std::uint8_t> scratch;
    return WriteBlock(file, buffer, size, mode, scratch);
}

bool ReadBlock(platform::File& file, void* buffer, std::size_t size, int mode,
               std::vector<std::uint8_t>& scratch) {
    if (mode == kCompressRefused)
        return false;
    if (mode != kCompressZlib)
        return file.Read(buffer, size);

    std::uint8_t prefix[kPrefixBytes];
    if (!file.Read(prefix, kPrefixBytes))
        return false;
    const std::uint32_t stored = GetLe32(prefix);
    if (stored > size)
        return false;  // corrupt: never longer than the block
    if (stored == size)
        return file.Read(buffer, size);
    try {
        if (scratch.size() < stored)
            scratch.resize(stored);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!file.Read(scratch.data(), stored))
        return false;
    uLongf inflated = static_cast<uLongf>(size);
    const int result = uncompress(static_cast<Bytef*>(buffer), &inflated, scratch.data(), stored);
    return result == Z_OK && inflated == size;
}

bool ReadBlock(platform::File& file, void* buffer, std::size_t size, int mode) {
    std::vector<std::uint8_t> scratch;
    return ReadBlock(file, buffer, size, mode, scratch);
}

}  // namespace quillor
