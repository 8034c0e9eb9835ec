#include "platform/Profile.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>

#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace platform::profile {

namespace {

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (IsAscii(a) && IsAscii(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(),
                          [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
    }
    return QString::fromUtf8(a.data(), qsizetype(a.size()))
               .compare(QString::fromUtf8(b.data(), qsizetype(b.size())), Qt::CaseInsensitive) == 0;
}

std::string_view Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

bool HasBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Reads a file into a document; a missing file is an empty one.
bool Load(const std::string& path, Document* doc, bool* exists, std::string* bytes, int* error) {
    int err = 0;
    *exists = ReadWholeFile(path, bytes, &err);
    if (!*exists && err != ENOENT) {
        *error = err;
        return false;
    }
    *doc = Document::Parse(*bytes);
    return true;
}

bool Modify(const std::string& path, const std::function<bool(Document&)>& change, int* error) {
    auto result = [&](bool ok, int err) {
        if (error)
            *error = err;
        return ok;
    };
    const std::string target = ResolvedPath(path);
    Document doc;
    bool exists = false;
    std::string bytes;
    int err = 0;
    // A file that cannot be read is never replaced: what it holds would be lost.
    if (!Load(target, &doc, &exists, &bytes, &err))
        return result(false, err);
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return result(false, errno);
    if (!change(doc))
        return result(false, EINVAL);
    std::string out = doc.Serialize();
    if (exists ? out == bytes : out.empty())
        return result(true, 0);
    if (!ReplaceFileAtomically(target, out, NewFileMode(), &err))
        return result(false, err);
    return result(true, 0);
}

}  // namespace

Document Document::Parse(std::string_view bytes) {
    Document doc;
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t pos = 0;
    std::size_t unit = 1;
    if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
        doc.encoding_ = Encoding::Utf16LE;
        pos = 2;
        unit = 2;
    } else if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF) {
        doc.encoding_ = Encoding::Utf16BE;
        pos = 2;
        unit = 2;
    } else if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
        doc.encoding_ = Encoding::Utf8Bom;
        pos = 3;
    } else {
        doc.encoding_ = IsValidUtf8(bytes) ? Encoding::Utf8 : Encoding::Ansi;
    }
    // A stray odd byte at the end of UTF-16 text is dropped.
    const std::size_t end = pos + (bytes.size() - pos) / unit * unit;
    auto at = [&](std::size_t i) -> std::uint32_t {
        if (unit == 1)
            return b(i);
        return doc.encoding_ == Encoding::Utf16LE ? (b(i) | (b(i + 1) << 8))
                                                  : ((b(i) << 8) | b(i + 1));
    };
    while (pos < end) {
        std::size_t i = pos;
        while (i < end && at(i) != '\n')
            i += unit;
        std::size_t contentEnd = i;
        const char* eol = "";
        if (i < end) {
            eol = "\n";
            if (contentEnd > pos && at(contentEnd - unit) == '\r') {
                contentEnd -= unit;
                eol = "\r\n";
            }
        }
        Line line;
        line.eol.assign(eol);
        line.original = std::string(bytes.substr(pos, contentEnd - pos));
        switch (doc.encoding_) {
            case Encoding::Utf8:
            case Encoding::Utf8Bom:
                line.text = line.original;
                break;
            case Encoding::Ansi:
                line.text = AnsiToUtf8(line.original);
                break;
            case Encoding::Utf16LE:
            case Encoding::Utf16BE: {
                std::u16string units;
                for (std::size_t k = pos; k < contentEnd; k += 2)
                    units.push_back(char16_t(at(k)));
                line.text = Utf16ToUtf8(units);
                break;
            }
        }
        Classify(&line);
        doc.lines_.push_back(std::move(line));
        pos = i < end ? i + unit : end;
    }
    return doc;
}

std::string Document::Encode(std::string_view utf8) const {
    switch (encoding_) {
        case Encoding::Utf8:
        case Encoding::Utf8Bom:
            return std::string(utf8);
        case Encoding::Ansi:
            return Utf8ToAnsi(utf8);
        case Encoding::Utf16LE:
        case Encoding::Utf16BE:
            break;
    }
    std::string out;
    for (char16_t u : Utf8ToUtf16(utf8)) {
        char lo = char(u & 0xFF), hi = char(u >> 8);
        if (encoding_ == Encoding::Utf16LE) {
            out.push_back(lo);
            out.push_back(hi);
        } else {
            out.push_back(hi);
            out.push_back(lo);
        }
    }
    return out;
}

std::string Document::Serialize() const {
    std::string out;
    switch (encoding_) {
        case Encoding::Utf8Bom:
            out = "\xEF\xBB\xBF";
            break;
        case Encoding::Utf16LE:
            out = "\xFF\xFE";
            break;
        case Encoding::Utf16BE:
            out = "\xFE\xFF";
            break;
        default:
            break;
    }
    for (const Line& l : lines_) {
        out += l.changed ? Encode(l.text) : l.original;
        out += Encode(l.eol);
    }
    return out;
}

void Document::Classify(Line* line) {
    std::string_view t = Trim(line->text);
    line->kind = Kind::Other;
    line->name.clear();
    line->hasValue = false;
    if (t.empty() || t[0] == ';')
        return;
    if (t[0] == '[') {
        std::size_t close = t.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            line->kind = Kind::Section;
            line->name = std::string(Trim(t.substr(1, close - 1)));
        }
        return;
    }
    line->kind = Kind::Key;
    std::size_t eq = t.find('=');
    line->hasValue = eq != std::string_view::npos;
    line->name = std::string(Trim(t.substr(0, eq)));
}

std::string Document::NewLineEnding() const {
    for (const Line& l : lines_)
        if (!l.eol.empty())
            return l.eol;
    return "\n";
}

std::size_t Document::FindSection(std::string_view section) const {
    section = Trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::Section && NamesEqual(lines_[i].name, section))
            return i;
    return std::string::npos;
}

std::size_t Document::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Kind::Section)
        ++i;
    return i;
}

std::size_t Document::FindKey(std::size_t header, std::string_view key) const {
    key = Trim(key);
    std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == Kind::Key && NamesEqual(lines_[i].name, key))
            return i;
    return std::string::npos;
}

void Document::Insert(std::size_t at, const std::string& text) {
    std::string eol = NewLineEnding();
    // The line before the new one needs an ending if it was the file's last.
    if (at > 0 && lines_[at - 1].eol.empty())
        lines_[at - 1].eol = eol;
    Line line;
    line.text = text;
    line.eol = eol;
    line.changed = true;
    Classify(&line);
    lines_.insert(lines_.begin() + std::ptrdiff_t(at), std::move(line));
}

std::optional<std::string> Document::Get(std::string_view section, std::string_view key) const {
    std::size_t header = FindSection(section);
    if (header == std::string::npos)
        return std::nullopt;
    std::size_t k = FindKey(header, key);
    if (k == std::string::npos || !lines_[k].hasValue)
        return std::nullopt;
    const std::string& text = lines_[k].text;
    std::string_view value = Trim(std::string_view(text).substr(text.find('=') + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

bool Document::IsStorable(std::string_view section, std::string_view key, std::string_view value) {
    std::string_view k = Trim(key);
    if (HasBreakOrNul(section) || HasBreakOrNul(key) || HasBreakOrNul(value))
        return false;
    if (section.find(']') != std::string_view::npos)
        return false;
    if (k.empty() || k.find('=') != std::string_view::npos || k[0] == '[' || k[0] == ';')
        return false;
    return IsValidUtf8(section) && IsValidUtf8(key) && IsValidUtf8(value);
}

bool Document::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsStorable(section, key, value))
        return false;
    std::string entry(Trim(key));
    entry.push_back('=');
    entry.append(value);
    std::size_t header = FindSection(section);
    if (header == std::string::npos) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty())
            Insert(lines_.size(), "");
        std::string headerLine("[");
        headerLine.append(Trim(section));
        headerLine.push_back(']');
        Insert(lines_.size(), headerLine);
        Insert(lines_.size(), entry);
        return true;
    }
    std::size_t k = FindKey(header, key);
    if (k == std::string::npos) {
        // After the section's last key, so that blank lines and comments
        // that lead into the next section stay in front of it.
        std::size_t at = header + 1;
        for (std::size_t i = header + 1; i < SectionEnd(header); ++i)
            if (lines_[i].kind == Kind::Key)
                at = i + 1;
        Insert(at, entry);
        return true;
    }
    Line& line = lines_[k];
    std::string text;
    if (line.hasValue) {
        // Keep the key as it was written, with its spacing around '='.
        std::size_t eq = line.text.find('=');
        std::size_t j = eq + 1;
        while (j < line.text.size() && (line.text[j] == ' ' || line.text[j] == '\t'))
            ++j;
        text = line.text.substr(0, j) + std::string(value);
    } else {
        text = line.text;
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.pop_back();
        text.push_back('=');
        text.append(value);
    }
    if (text != line.text) {
        line.text = std::move(text);
        line.changed = true;
        Classify(&line);
    }
    return true;
}

bool Document::DeleteKey(std::string_view section, std::string_view key) {
    std::size_t header = FindSection(section);
    if (header == std::string::npos)
        return false;
    std::size_t k = FindKey(header, key);
    if (k == std::string::npos)
        return false;
    lines_.erase(lines_.begin() + std::ptrdiff_t(k));
    return true;
}

bool Document::DeleteSection(std::string_view section) {
    bool found = false;
    for (std::size_t header; (header = FindSection(section)) != std::string::npos;) {
        // Up to its last key: blank lines and comments that lead into the
        // next section stay with it.
        std::size_t end = header + 1;
        for (std::size_t i = header + 1; i < SectionEnd(header); ++i)
            if (lines_[i].kind == Kind::Key)
                end = i + 1;
        lines_.erase(lines_.begin() + std::ptrdiff_t(header), lines_.begin() + std::ptrdiff_t(end));
        found = true;
    }
    return found;
}

std::vector<std::string> Document::Sections() const {
    std::vector<std::string> names;
    for (const Line& l : lines_) {
        if (l.kind != Kind::Section)
            continue;
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& n) { return NamesEqual(n, l.name); }))
            names.push_back(l.name);
    }
    return names;
}

std::vector<std::string> Document::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    std::size_t header = FindSection(section);
    if (header == std::string::npos)
        return keys;
    for (std::size_t i = header + 1; i < SectionEnd(header); ++i)
        if (lines_[i].kind == Kind::Key && !lines_[i].name.empty())
            keys.push_back(lines_[i].name);
    return keys;
}

bool ParseInteger(std::string_view text, int* value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size())
        return false;
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * (hex ? 16 : 10) + std::uint64_t(d);
        if (v > (hex ? 0xFFFFFFFFull : 0x80000000ull))
            return false;
    }
    if (hex) {
        std::uint32_t u = std::uint32_t(v);
        if (negative)
            u = 0u - u;
        *value = static_cast<std::int32_t>(u);
        return true;
    }
    if (!negative && v > 0x7FFFFFFFull)
        return false;
    *value = negative ? int(-std::int64_t(v)) : int(v);
    return true;
}

std::string ReadString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view defaultValue) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes))
        return std::string(defaultValue);
    std::optional<std::string> v = Document::Parse(bytes).Get(section, key);
    return v ? *v : std::string(defaultValue);
}

int ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                int defaultValue) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes))
        return defaultValue;
    std::optional<std::string> v = Document::Parse(bytes).Get(section, key);
    int value = 0;
    return v && ParseInteger(*v, &value) ? value : defaultValue;
}

std::vector<std::string> ReadSections(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes))
        return {};
    return Document::Parse(bytes).Sections();
}

std::vector<std::string> ReadSection(const std::string& path, std::string_view section) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes))
        return {};
    return Document::Parse(bytes).Keys(section);
}

bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value, int* error) {
    return Modify(
        path, [&](Document& d) { return d.Set(section, key, value); }, error);
}

bool WriteInteger(const std::string& path, std::string_view section, std::string_view key,
                  int value, int* error) {
    return WriteString(path, section, key, std::to_string(value), error);
}

bool DeleteKey(const std::string& path, std::string_view section, std::string_view key,
               int* error) {
    return Modify(
        path,
        [&](Document& d) {
            d.DeleteKey(section, key);
            return true;
        },
        error);
}

bool EraseSection(const std::string& path, std::string_view section, int* error) {
    return Modify(
        path,
        [&](Document& d) {
            d.DeleteSection(section);
            return true;
        },
        error);
}

}  // namespace platform::profile
