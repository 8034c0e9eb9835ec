#pragma once
// Open files as POSIX descriptors with explicit positioning and 64-bit
// offsets, and the process's private folder for temporary files.

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class File {
  public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // flags are open(2) flags; O_CLOEXEC is always added. On failure the
    // result is closed and *error (when given) holds errno.
    static File Open(const std::string& path, int flags, mode_t mode = 0600, int* error = nullptr);
    // Creates a new file that must not exist yet (O_CREAT | O_EXCL), read-write.
    static File CreateExclusive(const std::string& path, mode_t mode = 0600, int* error = nullptr);

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    int LastError() const { return error_; }

    // Reads or writes exactly n bytes at the current position. A short
    // transfer (end of file, full disk) returns false; *done tells how far it got.
    bool Read(void* buffer, std::size_t n, std::size_t* done = nullptr);
    bool Write(const void* buffer, std::size_t n, std::size_t* done = nullptr);
    // The same at an explicit offset, leaving the position alone.
    bool ReadAt(std::int64_t offset, void* buffer, std::size_t n, std::size_t* done = nullptr);
    bool WriteAt(std::int64_t offset, const void* buffer, std::size_t n,
                 std::size_t* done = nullptr);

    // whence is SEEK_SET, SEEK_CUR or SEEK_END; returns the new position or -1.
    std::int64_t Seek(std::int64_t offset, int whence = SEEK_SET);
    std::int64_t Position();
    std::int64_t Size();
    bool SetSize(std::int64_t size);
    bool Flush();
    void Close();
    int Release();

  private:
    int fd_ = -1;
    int error_ = 0;
};

// The system's temporary folder: $TMPDIR or /tmp, without a trailing '/'.
std::string TempFolder();

// A folder of this process alone (mode 0700), made in the temporary folder
// at first use and removed with its contents when the process ends normally.
// Empty when it cannot be made.
const std::string& PrivateTempFolder();

// Reads a whole file. Returns false (and leaves *data empty) when it cannot.
bool ReadWholeFile(const std::string& path, std::string* data, int* error = nullptr);

// Replaces path by data without ever leaving a half-written file: writes a
// temporary file beside it (with the old file's mode, else `mode`), flushes
// it to disk and renames it over path.
bool ReplaceFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644,
                           int* error = nullptr);

// The mode a new file gets from open(2): 0666 less the process's umask.
mode_t NewFileMode();

// Where a replacement of path writes: the file a symbolic link points to, so
// that the link stays a link; path itself otherwise.
std::string ResolvedPath(const std::string& path);

// A test hook for ReplaceFileAtomically: called with the stage name ("write",
// "flush", "rename"); returning a non-zero errno makes that stage fail.
using AtomicWriteFaultHook = int (*)(const char* stage);
void SetAtomicWriteFaultHook(AtomicWriteFaultHook hook);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

}  // namespace platform
