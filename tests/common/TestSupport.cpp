#include "tests/common/TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/SystemInfo.h"

namespace testsupport {

TempDir::TempDir() {
    const char* t = std::getenv("TMPDIR");
    std::string tmpl = std::string(t && *t ? t : "/tmp") + "/velserin-test-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* v = std::getenv(name_.c_str()))
        old_ = v;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string EditorExport(const std::string& utf8) {
    std::string withCrLf;
    for (char c : utf8) {
        if (c == '\n')
            withCrLf += '\r';
        withCrLf += c;
    }
    std::string out = "\xFF\xFE";
    for (char16_t u : platform::Utf8ToUtf16(withCrLf)) {
        out.push_back(char(u & 0xFF));
        out.push_back(char(u >> 8));
    }
    return out;
}

int HoldPosixLockInChild(const std::string& path) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        // Only async-signal-safe calls in the child of a threaded process.
        ::close(fds[0]);
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
        (void)!::write(fds[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    char ok = '0';
    (void)!::read(fds[0], &ok, 1);
    ::close(fds[0]);
    if (ok != '1') {
        KillChild(pid);
        return -1;
    }
    return pid;
}

void KillChild(int pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace testsupport
