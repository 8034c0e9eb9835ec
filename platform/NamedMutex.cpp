#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

#include "platform/Files.h"

namespace platform {

std::string MutexFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        std::string dir = runtime;
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        return dir;
    }
    std::string dir = TempFolder() + "/velserin-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    // The folder must be ours and closed to others, or someone could plant a
    // lock file that keeps us from starting.
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        return {};
    return dir;
}

std::string MutexLockPath(const std::string& name) {
    std::string dir = MutexFolder();
    if (dir.empty())
        return {};
    return dir + "/" + name + ".lock";
}

static flock WholeFile(short type) {
    flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    fl.l_pid = 0;
    return fl;
}

MutexProbe ProbeNamedMutex(const std::string& name) {
    std::string path = MutexLockPath(name);
    if (path.empty())
        return MutexProbe::Absent;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return MutexProbe::Absent;  // nobody ever made it: nobody holds it
    flock fl = WholeFile(F_WRLCK);
    MutexProbe result = MutexProbe::Absent;
    if (::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK)
        result = MutexProbe::Held;
    ::close(fd);
    return result;
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, Result* result) {
    auto set = [&](Result r) {
        if (result)
            *result = r;
    };
    std::string path = MutexLockPath(name);
    if (path.empty()) {
        set(Result::Failed);
        return nullptr;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // A lock file we may not write to can still tell that it is held.
        set(ProbeNamedMutex(name) == MutexProbe::Held ? Result::AlreadyHeld : Result::Failed);
        return nullptr;
    }
    flock fl = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        int err = errno;
        ::close(fd);
        set(err == EAGAIN || err == EACCES ? Result::AlreadyHeld : Result::Failed);
        return nullptr;
    }
    set(Result::Created);
    return std::unique_ptr<NamedMutex>(new NamedMutex(name, fd));
}

NamedMutex::~NamedMutex() {
    Release();
}

void NamedMutex::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing the description drops its lock
        fd_ = -1;
    }
}

}  // namespace platform
