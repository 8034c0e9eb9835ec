#pragma once
// Writing and reading one block of pixel data on an open file, raw or
// compressed with zlib.
//
// Modes: 0 raw (the block alone), 1 refused (nothing is written or read, the
// result is false), 2 compressed with a length prefix. Any other value acts as
// 0. A mode-2 block is a little-endian unsigned 32-bit length L followed by L
// bytes: when L is less than the block's size, a zlib stream (zlib `compress`
// at its default level) that inflates to exactly the block's size; when L
// equals the size, the block itself, stored raw because compression did not
// make it smaller. The block's size is not stored: the reader supplies it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Files.h"

namespace quillor {

enum CompressionMode : std::uint8_t {
    kCompressRaw = 0,
    kCompressRefused = 1,
    kCompressZlib = 2,
};

// Writes size bytes of buffer at the file's position in the given mode.
// Returns false when nothing or only part could be written, for mode 1, and
// for a mode-2 block too large for its 32-bit length. The second form keeps
// its working memory in `scratch`, so that a caller writing many blocks
// allocates it once.
bool WriteBlock(platform::File& file, const void* buffer, std::size_t size, int mode);
bool WriteBlock(platform::File& file, const void* buffer, std::size_t size, int mode,
                std::vector<std::uint8_t>& scratch);

// The bytes of a mode-2 block (length prefix, then the zlib stream or the
// block itself) in `out`, which is reused. False for a block too large for
// its 32-bit length or when memory runs out.
bool EncodeBlock(const void* buffer, std::size_t size, std::vector<std::uint8_t>& out);

// Reads a block of exactly size bytes into buffer (which has room for size
// bytes). In mode 2 the result is true only when the stored length is at most
// size and the data inflates without error to exactly size bytes; a longer
// stored length, a truncated file or a corrupt stream give false (the buffer
// may then hold part of the data, but nothing is written beyond size bytes).
// The second form reads the compressed bytes into `scratch`, which never
// grows beyond size bytes, whatever length the file states.
bool ReadBlock(platform::File& file, void* buffer, std::size_t size, int mode);
bool ReadBlock(platform::File& file, void* buffer, std::size_t size, int mode,
               std::vector<std::uint8_t>& scratch);

// Little-endian 32-bit values, as the length prefix and the stores' file
// headers hold them.
void PutLe32(std::uint8_t* out, std::uint32_t value);
std::uint32_t GetLe32(const std::uint8_t* in);

}  // namespace quillor
