// Fuzz target for the palette reader. Whatever the bytes, reading must not
// crash, hang or allocate beyond what the data holds; the file path and the
// memory path must agree; and a palette that was read must write and read
// back to the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "colour/Palettes.h"
#include "platform/Files.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "palette fuzz: %s\n", what);
    std::abort();
}

// The same bytes as a file, without touching the disk.
bool LoadThroughFile(quillor::TPalette& palette, const std::uint8_t* data, std::size_t size) {
    int fd = ::memfd_create("palette", MFD_CLOEXEC);
    if (fd < 0)
        Fail("memfd_create");
    platform::File file(fd);
    if (size > 0 && !file.Write(data, size))
        Fail("memfd write");
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    return palette.LoadFromFile(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillor::TPalette fromMemory;
    bool ok = fromMemory.LoadFromMemory(data, size);
    if (fromMemory.GetColorCount() != 256 && !ok)
        Fail("ColorCount not 256 after a failed read");

    quillor::TPalette fromFile;
    if (LoadThroughFile(fromFile, data, size) != ok)
        Fail("file and memory reads disagree");
    std::string saved = fromMemory.SaveToMemory();
    if (fromFile.SaveToMemory() != saved)
        Fail("file and memory reads differ");

    if (ok) {
        quillor::TPalette again;
        if (!again.LoadFromMemory(saved.data(), saved.size()))
            Fail("own file not readable");
        if (again.SaveToMemory() != saved)
            Fail("own file does not read back the same");
    } else {
        // A rejected file changes no entry: a fresh palette writes as before.
        quillor::TPalette fresh;
        fresh.SetColorCount(256);
        if (fresh.SaveToMemory() != saved)
            Fail("a rejected file changed the palette");
    }
    return 0;
}
