#pragma once
// Named mutexes shared between the suite's programs. A mutex named N is an
// exclusive lock on the file "N.lock" in $XDG_RUNTIME_DIR (else in a private
// per-user folder "velserin-<uid>" in the temporary folder). It exists
// exactly while some process holds that lock, and the system releases it
// when its holder ends, however it ends.

#include <memory>
#include <string>

namespace platform {

// The folder that holds the lock files; made (mode 0700) when missing.
// Empty when no safe folder can be had.
std::string MutexFolder();
std::string MutexLockPath(const std::string& name);

enum class MutexProbe { Absent, Held };

// Asks whether another process holds the mutex, without ever taking it.
MutexProbe ProbeNamedMutex(const std::string& name);

class NamedMutex {
  public:
    enum class Result { Created, AlreadyHeld, Failed };

    // Takes the mutex in one atomic step. AlreadyHeld: another process holds
    // it (nothing is taken). Failed: the lock file cannot be had.
    static std::unique_ptr<NamedMutex> Create(const std::string& name, Result* result);

    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    const std::string& Name() const { return name_; }
    // Releases and closes the mutex.
    void Release();

  private:
    NamedMutex(std::string name, int fd) : name_(std::move(name)), fd_(fd) {}
    std::string name_;
    int fd_;
};

}  // namespace platform
