#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace platform {

File::~File() {
    Close();
}

File::File(File&& other) noexcept : fd_(other.fd_), error_(other.error_) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        error_ = other.error_;
        other.fd_ = -1;
    }
    return *this;
}

File File::Open(const std::string& path, int flags, mode_t mode, int* error) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (error)
        *error = fd < 0 ? errno : 0;
    File f(fd);
    if (fd < 0)
        f.error_ = errno;
    return f;
}

File File::CreateExclusive(const std::string& path, mode_t mode, int* error) {
    return Open(path, O_RDWR | O_CREAT | O_EXCL, mode, error);
}

namespace {
template <typename Op>
bool Transfer(int fd, int* lastError, std::size_t n, std::size_t* done, Op op) {
    std::size_t total = 0;
    while (total < n) {
        ssize_t r = op(total);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            *lastError = errno;
            break;
        }
        if (r == 0) {
            *lastError = 0;
            break;
        }
        total += static_cast<std::size_t>(r);
    }
    (void)fd;
    if (done)
        *done = total;
    return total == n;
}
}  // namespace

bool File::Read(void* buffer, std::size_t n, std::size_t* done) {
    auto* p = static_cast<char*>(buffer);
    return Transfer(fd_, &error_, n, done,
                    [&](std::size_t at) { return ::read(fd_, p + at, n - at); });
}

bool File::Write(const void* buffer, std::size_t n, std::size_t* done) {
    const auto* p = static_cast<const char*>(buffer);
    bool ok = Transfer(fd_, &error_, n, done,
                       [&](std::size_t at) { return ::write(fd_, p + at, n - at); });
    if (!ok && error_ == 0)
        error_ = ENOSPC;
    return ok;
}

bool File::ReadAt(std::int64_t offset, void* buffer, std::size_t n, std::size_t* done) {
    auto* p = static_cast<char*>(buffer);
    return Transfer(fd_, &error_, n, done, [&](std::size_t at) {
        return ::pread(fd_, p + at, n - at, static_cast<off_t>(offset + std::int64_t(at)));
    });
}

bool File::WriteAt(std::int64_t offset, const void* buffer, std::size_t n, std::size_t* done) {
    const auto* p = static_cast<const char*>(buffer);
    bool ok = Transfer(fd_, &error_, n, done, [&](std::size_t at) {
        return ::pwrite(fd_, p + at, n - at, static_cast<off_t>(offset + std::int64_t(at)));
    });
    if (!ok && error_ == 0)
        error_ = ENOSPC;
    return ok;
}

std::int64_t File::Seek(std::int64_t offset, int whence) {
    off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (r < 0)
        error_ = errno;
    return r;
}

std::int64_t File::Position() {
    return Seek(0, SEEK_CUR);
}

std::int64_t File::Size() {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        error_ = errno;
        return -1;
    }
    return st.st_size;
}

bool File::SetSize(std::int64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool File::Flush() {
    if (::fsync(fd_) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

void File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int File::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

std::string TempFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

namespace {
std::string g_privateFolder;
pid_t g_privateFolderOwner = 0;

void RemovePrivateFolder() {
    // A forked child inherits the atexit handler; only the maker removes it.
    if (!g_privateFolder.empty() && g_privateFolderOwner == ::getpid()) {
        std::error_code ec;
        std::filesystem::remove_all(g_privateFolder, ec);
    }
}
}  // namespace

const std::string& PrivateTempFolder() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::string tmpl = TempFolder() + "/quillor-XXXXXX";
        if (::mkdtemp(tmpl.data()) != nullptr) {
            g_privateFolder = tmpl;
            g_privateFolderOwner = ::getpid();
            std::atexit(RemovePrivateFolder);
        }
    });
    return g_privateFolder;
}

bool ReadWholeFile(const std::string& path, std::string* data, int* error) {
    data->clear();
    int err = 0;
    File f = File::Open(path, O_RDONLY, 0, &err);
    if (!f.IsOpen()) {
        if (error)
            *error = err;
        return false;
    }
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(f.Descriptor(), buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = errno;
            data->clear();
            return false;
        }
        if (r == 0)
            break;
        data->append(buf, static_cast<std::size_t>(r));
    }
    if (error)
        *error = 0;
    return true;
}

namespace {
AtomicWriteFaultHook g_faultHook = nullptr;
int Fault(const char* stage) {
    return g_faultHook ? g_faultHook(stage) : 0;
}
}  // namespace

void SetAtomicWriteFaultHook(AtomicWriteFaultHook hook) {
    g_faultHook = hook;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data, mode_t mode,
                           int* error) {
    auto fail = [&](int err, const std::string& tmp) {
        if (!tmp.empty())
            ::unlink(tmp.c_str());
        if (error)
            *error = err;
        return false;
    };
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        mode = st.st_mode & 07777;

    std::string tmp = path + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errno, std::string());
    File f(fd);
    if (::fchmod(fd, mode) != 0)
        return fail(errno, tmp);
    if (int e = Fault("write"))
        return fail(e, tmp);
    if (!f.Write(data.data(), data.size()))
        return fail(f.LastError() ? f.LastError() : EIO, tmp);
    if (int e = Fault("flush"))
        return fail(e, tmp);
    if (!f.Flush())
        return fail(f.LastError(), tmp);
    f.Close();
    if (int e = Fault("rename"))
        return fail(e, tmp);
    if (::rename(tmp.c_str(), path.c_str()) != 0)
        return fail(errno, tmp);
    if (error)
        *error = 0;
    return true;
}

mode_t NewFileMode() {
    // Read from /proc rather than with umask(2), which cannot read without
    // setting, and setting it back and forth races with other threads.
    mode_t mask = 022;
    std::string status;
    if (ReadWholeFile("/proc/self/status", &status)) {
        std::size_t at = status.find("\nUmask:");
        if (at != std::string::npos)
            mask = mode_t(std::strtoul(status.c_str() + at + 7, nullptr, 8));
    }
    return 0666 & ~mask;
}

std::string ResolvedPath(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return resolved;
        }
    }
    return path;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
