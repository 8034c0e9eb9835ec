#pragma once
// Private-profile INI files (status.ini, chosen-colour files) with the
// semantics of the Windows profile functions: "[section]" lines, each
// followed by "key=value" lines; section and key names match without regard
// to case (surrounding blanks ignored); the first section of a name and the
// first key of a name in it count; a value in matching quotes is read
// without them.
//
// A write changes only the line it concerns: other sections, keys, comments,
// blank lines, the line endings (CRLF or LF) and the encoding (UTF-8, UTF-16
// with a byte-order mark, or the ANSI code page) stay as they were. A missing
// file is created by the first write (its folder must exist). Every call
// reads the file afresh; a write replaces it atomically (temporary file with
// the file's mode, flushed, renamed), so a failed write leaves it as it was.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::profile {

// An INI file's text, line by line.
class Document {
  public:
    // Never fails: lines that are neither section nor key lines are kept.
    static Document Parse(std::string_view bytes);
    // The bytes of the file: unchanged lines exactly as they were read.
    std::string Serialize() const;

    // The value of a key, trimmed and without surrounding quotes; nullopt
    // when the section or key is missing (or the key line has no '=').
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Sets a key, appending the key to its section or the section to the
    // file when missing. Returns false, changing nothing, for names or
    // values an INI file cannot hold (see IsStorable).
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Remove a key, or every section of a name with its keys (blank lines
    // and comments after its last key stay). False when missing.
    bool DeleteKey(std::string_view section, std::string_view key);
    bool DeleteSection(std::string_view section);

    // Section names in file order (each name once), and the keys of a section.
    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;

    // Whether a section name, key and value can be written: no line breaks
    // or NULs anywhere, no ']' in a section name, a non-blank key without
    // '=' that does not start with '[' or ';'.
    static bool IsStorable(std::string_view section, std::string_view key, std::string_view value);

  private:
    enum class Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Ansi };
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string text;      // decoded (UTF-8), without its line ending
        std::string eol;       // "\r\n", "\n", or "" for a last line without one
        std::string original;  // the line's bytes as read, without the ending
        bool changed = false;  // written from `text` instead of `original`
        Kind kind = Kind::Other;
        std::string name;       // section name or key, trimmed
        bool hasValue = false;  // a key line with '='
    };

    static void Classify(Line* line);
    std::string Encode(std::string_view utf8) const;
    std::string NewLineEnding() const;
    // Index of the first section header of that name, or npos; End: the
    // index after its last line.
    std::size_t FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const;
    std::size_t FindKey(std::size_t header, std::string_view key) const;
    void Insert(std::size_t at, const std::string& text);

    Encoding encoding_ = Encoding::Utf8;
    std::vector<Line> lines_;
};

// The integer syntax of ReadInteger: optional blanks, an optional sign, then
// decimal digits, or hexadecimal ones after "0x" or "$"; the whole text, and
// a value that fits in 32 bits (hexadecimal ones as two's complement).
bool ParseInteger(std::string_view text, int* value);

// Each call reads the file afresh. A missing file, section or key gives the
// default; so does a value ReadInteger cannot parse.
std::string ReadString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view defaultValue);
int ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                int defaultValue);
std::vector<std::string> ReadSections(const std::string& path);
std::vector<std::string> ReadSection(const std::string& path, std::string_view section);

// Writes return false with errno in *error: the file cannot be read (it is
// never replaced then) or written, or its folder is missing; EINVAL for
// names or values the file cannot hold. Nothing is written when the file
// already says the same.
bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value, int* error = nullptr);
bool WriteInteger(const std::string& path, std::string_view section, std::string_view key,
                  int value, int* error = nullptr);
bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
               int* error = nullptr);
bool EraseSection(const std::string& path, std::string_view section, int* error = nullptr);

}  // namespace platform::profile
