#pragma once
// Small fixtures shared by the test programs.

#include <optional>
#include <string>

namespace testsupport {

// A fresh folder, removed with its contents at the end of the scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for a scope.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

std::string ReadFile(const std::string& path);

// The bytes the Windows registry editor exports for a text: UTF-16 little
// endian with a byte-order mark and CRLF line endings.
std::string EditorExport(const std::string& utf8);

// A peer program holding a plain POSIX record lock on the whole of `path`,
// in a child process. Returns the child's pid once the lock is held, or -1.
int HoldPosixLockInChild(const std::string& path);
// Kills and reaps a child.
void KillChild(int pid);
void WriteFile(const std::string& path, const std::string& data);

}  // namespace testsupport
