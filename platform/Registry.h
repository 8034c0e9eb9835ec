#pragma once
// The registry: one hive file per root in the text format of the Windows
// registry editor ("Windows Registry Editor Version 5.00"). HKEY_LOCAL_MACHINE
// lives in system.reg, HKEY_CURRENT_USER in user.reg, in $VELSERIN_REGISTRY_DIR
// or else ${XDG_DATA_HOME:-$HOME/.local/share}/Ostrevin/registry.
//
// Key and value names match without regard to case and keep the case they
// were first written with. Lines the parser does not understand stay in their
// key verbatim (and are reported once on stderr), so that a writer never drops
// what it cannot read. Reading never writes a hive.
//
// Writing is done in locked batches (HiveWriter): the lock file beside the
// hive ("system.reg.lock") is taken exclusively, the hive is read afresh under
// it, changed, and replaced atomically (a temporary file with the hive's mode,
// flushed, renamed over it). A failure at any stage leaves the previous hive
// as it was, and two programs writing at once never lose each other's values.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

enum class Root { LocalMachine, CurrentUser };

// Registry data types (the REG_* numbers).
enum class ValueType : std::uint32_t {
    None = 0,
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ, kept unexpanded
    Binary = 3,
    DWord = 4,
    DWordBigEndian = 5,
    Link = 6,
    MultiString = 7,
    QWord = 11,
};

struct Value {
    std::string name;  // "" is the key's default value ("@")
    ValueType type = ValueType::String;
    std::string text;                // String: the text (UTF-8)
    std::vector<std::uint8_t> data;  // every other type: the raw bytes
    std::string raw;                 // the text it was read from; empty once changed

    // String and ExpandString as text (UTF-8, without the terminating NUL);
    // empty for other types.
    std::string Text() const;
    bool IsString() const { return type == ValueType::String || type == ValueType::ExpandString; }
    std::uint32_t DWordValue() const;
};

struct Line {
    bool verbatim = false;  // a line kept as it stood (a comment, or one not understood)
    std::string text;       // verbatim: the line
    Value value;            // otherwise: the value it holds
};

struct Key {
    std::string root;  // the root name as written, e.g. "HKEY_LOCAL_MACHINE"
    std::string path;  // below the root, without leading or trailing '\'
    std::vector<Line> lines;
    // A key line that was not understood (or a "[-...]" deletion): the line
    // itself, kept as it stood. Such a block is no key: lookups pass it by and
    // every line below it stays verbatim, so that its values are neither
    // taken for another key's nor lost.
    std::string verbatimHeader;

    const Value* FindValue(std::string_view name) const;
    Value* FindValue(std::string_view name);
    // Sets a string value: replaces the first value of that name (keeping the
    // case of its name) and removes any later duplicates; appends otherwise.
    // Returns false when the key already held exactly that (nothing changed).
    bool SetString(std::string_view name, std::string_view text);
};

class Hive {
  public:
    // Parses the bytes of a hive file (UTF-8, or UTF-16 with a byte-order
    // mark). `source` names the file in reports. Never fails: what cannot be
    // parsed is kept verbatim and listed in *problems.
    static Hive Parse(std::string_view bytes, const std::string& source = std::string(),
                      std::vector<std::string>* problems = nullptr);

    // UTF-8 text with LF lines, in the format of "Windows Registry Editor
    // Version 5.00". Lines kept verbatim are written as they were read; a
    // string that a quoted line cannot hold (a line break, a control
    // character) is written as hex(1), so the result always parses back.
    std::string Serialize() const;

    // Keys are looked up under one root name (either the full name or its
    // short form, e.g. "HKLM").
    Key* FindKey(Root root, std::string_view path);
    const Key* FindKey(Root root, std::string_view path) const;
    // A key exists when it or any key below it appears in the hive.
    bool KeyExists(Root root, std::string_view path) const;
    // Returns the key, adding it at the end when missing. The caller checks
    // the path with IsStorableName first.
    Key& CreateKey(Root root, std::string_view path);

    const std::vector<Key>& Keys() const { return keys_; }
    bool Empty() const { return keys_.empty() && preamble_.empty(); }

  private:
    std::vector<std::string> preamble_;  // lines before the first key, kept verbatim
    std::vector<Key> keys_;
};

// Key paths: '\' separated; leading, trailing and doubled separators are ignored.
std::string NormalizeKeyPath(std::string_view path);
bool NamesEqual(std::string_view a, std::string_view b);
const char* RootName(Root root);
// Whether a key path or value name can be stored in a hive file: valid UTF-8
// without line breaks or NUL characters.
bool IsStorableName(std::string_view name);

std::string RegistryFolder();
std::string HivePath(Root root);

// Reads a root's hive file. A missing file is an empty hive. Returns false
// only when the file exists but cannot be read (*error holds errno).
bool LoadHive(Root root, Hive* hive, int* error = nullptr);

enum class Lookup { NoKey, NoValue, Found };

// Looks a value up in the current hive file, read afresh.
Lookup QueryValue(Root root, std::string_view keyPath, std::string_view name, Value* out);

// How long a writer waits for another writer's lock before it gives up
// (ETIMEDOUT). Writers hold the lock only while they read and replace a
// small file, so reaching it means a writer that hangs.
constexpr int kLockTimeoutMilliseconds = 10000;

// One locked write batch on a root's hive:
//
//     HiveWriter w(Root::LocalMachine);
//     if (!w.Begin(&err)) ...;            // lock, then read the hive afresh
//     w.Contents().CreateKey(...).SetString(...);
//     if (!w.Commit(&err)) ...;           // atomic replacement; repeatable
//                                         // the destructor unlocks
//
// Begin fails (with errno in *error) when the registry folder cannot be made,
// the lock cannot be taken, the hive exists but cannot be read (a writer
// never replaces what it could not read) or the hive is not writable. A
// failed Commit leaves the file on disk as it was; the batch stays usable.
class HiveWriter {
  public:
    explicit HiveWriter(Root root);
    ~HiveWriter();
    HiveWriter(const HiveWriter&) = delete;
    HiveWriter& operator=(const HiveWriter&) = delete;

    bool Begin(int* error = nullptr);
    bool IsOpen() const { return lockFd_ >= 0; }
    Hive& Contents() { return hive_; }
    // Writes Contents() over the hive file, unless it is the same as what
    // was read (or last committed): then nothing is written.
    bool Commit(int* error = nullptr);
    // Releases the lock; Contents() stays as it was.
    void End();

  private:
    Root root_;
    int lockFd_ = -1;
    Hive hive_;
    std::string committed_;  // the serialised text the file holds
};

// One batch: `change` returns whether it changed anything (nothing is
// written otherwise). Returns false with errno in *error when the batch could
// not be opened or committed.
bool UpdateHive(Root root, const std::function<bool(Hive&)>& change, int* error = nullptr);

// Creates a key (and so every key above it) when missing. Names that a hive
// cannot hold (IsStorableName) give EINVAL.
bool CreateKey(Root root, std::string_view keyPath, int* error = nullptr);
// Sets a string value (REG_SZ), creating its key when missing.
bool SetStringValue(Root root, std::string_view keyPath, std::string_view name,
                    std::string_view text, int* error = nullptr);

}  // namespace platform::registry
