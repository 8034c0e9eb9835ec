#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace platform::registry {

namespace {

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return std::string(s.substr(b, e - b));
}

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kOldHeader = "REGEDIT4";

// Decodes a hive file's bytes to UTF-8 text.
std::string DecodeText(std::string_view bytes) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    bool bom =
        bytes.size() >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF));
    // UTF-16 that lost its byte-order mark: ASCII text with a zero in every
    // odd byte ("W\0i\0..."), which would otherwise pass for UTF-8 full of NULs.
    bool bareUtf16 = !bom && bytes.size() >= 4 && bytes.size() % 2 == 0 && b(0) != 0 && b(1) == 0 &&
                     b(2) != 0 && b(3) == 0;
    if (bom || bareUtf16) {
        bool little = bareUtf16 || b(0) == 0xFF;
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (std::size_t i = bom ? 2 : 0; i + 1 < bytes.size(); i += 2) {
            char16_t u =
                little ? char16_t(b(i) | (b(i + 1) << 8)) : char16_t((b(i) << 8) | b(i + 1));
            units.push_back(u);
        }
        return Utf16ToUtf8(units);
    }
    if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
        bytes.remove_prefix(3);
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    // An old 8-bit export ("REGEDIT4"): read it in the ANSI code page.
    return AnsiToUtf8(bytes);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

// Parses a quoted string starting at s[i] == '"'. Escapes: \\ and \".
bool ParseQuoted(const std::string& s, std::size_t& i, std::string* out) {
    if (i >= s.size() || s[i] != '"')
        return false;
    ++i;
    out->clear();
    while (i < s.size()) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out->push_back(s[i + 1]);
            i += 2;
            continue;
        }
        if (c == '"') {
            ++i;
            return true;
        }
        out->push_back(c);
        ++i;
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool ParseHexBytes(std::string_view s, std::vector<std::uint8_t>* out) {
    out->clear();
    std::string t;
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\\')
            t.push_back(c);
    if (t.empty())
        return true;
    std::size_t i = 0;
    while (i < t.size()) {
        std::size_t comma = t.find(',', i);
        if (comma == std::string::npos)
            comma = t.size();
        std::string_view byte(t.data() + i, comma - i);
        if (byte.empty() || byte.size() > 2)
            return false;
        int v = 0;
        for (char c : byte) {
            int d = HexDigit(c);
            if (d < 0)
                return false;
            v = v * 16 + d;
        }
        out->push_back(static_cast<std::uint8_t>(v));
        i = comma + 1;
        if (comma + 1 == t.size())
            return false;  // trailing comma
    }
    return true;
}

// A continuation line of a hex value: hex bytes, commas, blanks and a final '\\'.
bool IsHexContinuation(std::string_view s) {
    if (Trim(s).empty())
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return HexDigit(c) >= 0 || c == ',' || c == ' ' || c == '\t' || c == '\\';
    });
}

std::u16string UnitsFromLittleEndian(const std::vector<std::uint8_t>& data) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    return units;
}

std::vector<std::uint8_t> LittleEndianFromUnits(std::u16string_view units) {
    std::vector<std::uint8_t> data;
    for (char16_t u : units) {
        data.push_back(std::uint8_t(u & 0xFF));
        data.push_back(std::uint8_t(u >> 8));
    }
    return data;
}

// Up to the first NUL.
std::string TextOfUnits(std::u16string units) {
    std::size_t nul = units.find(u'\0');
    if (nul != std::u16string::npos)
        units.resize(nul);
    return Utf16ToUtf8(units);
}

// Parses one logical value line. Returns false when it is not understood.
bool ParseValueLine(const std::string& line, Value* v) {
    std::size_t i = 0;
    std::string name;
    if (line[0] == '@') {
        i = 1;
    } else if (!ParseQuoted(line, i, &name)) {
        return false;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i >= line.size() || line[i] != '=')
        return false;
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    std::string rest = Trim(std::string_view(line).substr(i));
    v->name = name;
    v->text.clear();
    v->data.clear();
    if (!rest.empty() && rest[0] == '"') {
        std::size_t j = 0;
        std::string text;
        if (!ParseQuoted(rest, j, &text) || Trim(std::string_view(rest).substr(j)).size() != 0)
            return false;
        v->type = ValueType::String;
        v->text = std::move(text);
        return true;
    }
    std::string lower;
    for (char c : rest)
        lower.push_back(AsciiLower(c));
    if (lower.rfind("dword:", 0) == 0) {
        std::string digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        std::uint32_t d = 0;
        for (char c : digits) {
            int h = HexDigit(c);
            if (h < 0)
                return false;
            d = d * 16 + std::uint32_t(h);
        }
        v->type = ValueType::DWord;
        for (int k = 0; k < 4; ++k)
            v->data.push_back(std::uint8_t(d >> (8 * k)));
        return true;
    }
    if (lower.rfind("hex:", 0) == 0) {
        v->type = ValueType::Binary;
        return ParseHexBytes(std::string_view(rest).substr(4), &v->data);
    }
    if (lower.rfind("hex(", 0) == 0) {
        std::size_t close = rest.find("):");
        if (close == std::string::npos || close == 4 || close > 12)
            return false;
        std::uint32_t t = 0;
        for (std::size_t k = 4; k < close; ++k) {
            int h = HexDigit(rest[k]);
            if (h < 0)
                return false;
            t = t * 16 + std::uint32_t(h);
        }
        v->type = static_cast<ValueType>(t);
        if (!ParseHexBytes(std::string_view(rest).substr(close + 2), &v->data))
            return false;
        if (v->type == ValueType::String) {
            // A string the editor could not quote: keep it as text.
            v->text = TextOfUnits(UnitsFromLittleEndian(v->data));
            v->data.clear();
        }
        return true;
    }
    return false;
}

// "REGEDIT4" files hold the strings of hex(1), hex(2) and hex(7) values in
// the ANSI code page, not in UTF-16: bring them to the form of version 5.00,
// which is how they will be written.
void ConvertOldStrings(Value* v) {
    if (v->type != ValueType::String && v->type != ValueType::ExpandString &&
        v->type != ValueType::MultiString)
        return;
    if (v->type == ValueType::String) {
        // Parsed as UTF-16 above; take the bytes again as ANSI.
        std::u16string units = Utf8ToUtf16(v->text);
        std::string bytes;
        for (char16_t u : units) {
            bytes.push_back(char(u & 0xFF));
            if (u >> 8)
                bytes.push_back(char(u >> 8));
        }
        std::size_t nul = bytes.find('\0');
        if (nul != std::string::npos)
            bytes.resize(nul);
        v->text = AnsiToUtf8(bytes);
    } else {
        std::u16string units;
        std::string part;
        for (std::uint8_t c : v->data) {
            if (c == 0) {
                units += AnsiToUtf16(part);
                units.push_back(u'\0');
                part.clear();
            } else {
                part.push_back(char(c));
            }
        }
        units += AnsiToUtf16(part);
        v->data = LittleEndianFromUnits(units);
    }
    v->raw.clear();
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// A quoted string cannot hold line breaks or other control characters.
bool Quotable(std::string_view s) {
    return std::none_of(s.begin(), s.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

void AppendHex(std::string* line, const std::vector<std::uint8_t>& data) {
    char buf[8];
    for (std::size_t k = 0; k < data.size(); ++k) {
        std::snprintf(buf, sizeof buf, k ? ",%02x" : "%02x", data[k]);
        *line += buf;
    }
}

std::string FormatValue(const Value& v) {
    std::string line = v.name.empty() ? "@" : Quote(v.name);
    line += "=";
    char buf[16];
    switch (v.type) {
        case ValueType::String:
            if (Quotable(v.text)) {
                line += Quote(v.text);
            } else {
                std::u16string units = Utf8ToUtf16(v.text);
                units.push_back(u'\0');
                line += "hex(1):";
                AppendHex(&line, LittleEndianFromUnits(units));
            }
            return line;
        case ValueType::DWord:
            if (v.data.size() == 4) {
                std::snprintf(buf, sizeof buf, "dword:%08x", v.DWordValue());
                line += buf;
                return line;
            }
            line += "hex(4):";
            break;
        case ValueType::Binary:
            line += "hex:";
            break;
        default:
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            line += buf;
    }
    AppendHex(&line, v.data);
    return line;
}

// The full name of a root given in full or in its short form.
std::string CanonicalRoot(std::string_view name) {
    static const char* const kRoots[][2] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"},  {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_CLASSES_ROOT", "HKCR"},   {"HKEY_USERS", "HKU"},
        {"HKEY_CURRENT_CONFIG", "HKCC"},
    };
    for (const auto& r : kRoots)
        if (NamesEqual(name, r[0]) || NamesEqual(name, r[1]))
            return r[0];
    return std::string(name);
}

bool RootMatches(std::string_view name, Root root) {
    return CanonicalRoot(name) == RootName(root);
}

void Report(const std::string& source, std::size_t lineNo, const std::string& line,
            std::vector<std::string>* problems) {
    std::string msg = (source.empty() ? std::string("registry") : source) + ":" +
                      std::to_string(lineNo) + ": line not understood, kept as it is: " + line;
    if (problems)
        problems->push_back(msg);
    // Every batch re-reads the hive: say it once per process, not once per read.
    static std::mutex m;
    static std::set<std::string> reported;
    std::lock_guard<std::mutex> lock(m);
    if (reported.insert(source + "\n" + line).second)
        std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), msg.c_str());
}

}  // namespace

std::string Value::Text() const {
    if (type == ValueType::String)
        return text;
    if (type != ValueType::ExpandString)
        return {};
    return TextOfUnits(UnitsFromLittleEndian(data));
}

std::uint32_t Value::DWordValue() const {
    std::uint32_t d = 0;
    for (std::size_t k = 0; k < 4 && k < data.size(); ++k)
        d |= std::uint32_t(data[k]) << (8 * k);
    return d;
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (AsciiLower(a[i]) != AsciiLower(b[i]))
                return false;
        return true;
    }
    return QString::fromUtf8(a.data(), qsizetype(a.size()))
               .compare(QString::fromUtf8(b.data(), qsizetype(b.size())), Qt::CaseInsensitive) == 0;
}

std::string NormalizeKeyPath(std::string_view path) {
    std::string out;
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = path.find('\\', i);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > i) {
            if (!out.empty())
                out.push_back('\\');
            out.append(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return out;
}

const char* RootName(Root root) {
    return root == Root::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool IsStorableName(std::string_view name) {
    return IsValidUtf8(name) &&
           name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

const Value* Key::FindValue(std::string_view name) const {
    // A name given twice: the later line wins, as when the file is imported.
    const Value* found = nullptr;
    for (const Line& l : lines)
        if (!l.verbatim && NamesEqual(l.value.name, name))
            found = &l.value;
    return found;
}

Value* Key::FindValue(std::string_view name) {
    return const_cast<Value*>(static_cast<const Key*>(this)->FindValue(name));
}

bool Key::SetString(std::string_view name, std::string_view text) {
    bool removed = false;
    Value* existing = nullptr;
    for (auto it = lines.begin(); it != lines.end();) {
        if (!it->verbatim && NamesEqual(it->value.name, name)) {
            if (!existing) {
                existing = &it->value;
                ++it;
            } else {
                it = lines.erase(it);
                removed = true;
                existing = nullptr;  // pointers moved: find it again below
                for (Line& l : lines)
                    if (!l.verbatim && NamesEqual(l.value.name, name)) {
                        existing = &l.value;
                        break;
                    }
            }
        } else {
            ++it;
        }
    }
    if (!existing) {
        Line l;
        l.value.name = std::string(name);
        l.value.text = std::string(text);
        lines.push_back(std::move(l));
        return true;
    }
    if (existing->type == ValueType::String && existing->text == text)
        return removed;  // unchanged: keep the line as it was written
    existing->type = ValueType::String;
    existing->text = std::string(text);
    existing->data.clear();
    existing->raw.clear();
    return true;
}

Hive Hive::Parse(std::string_view bytes, const std::string& source,
                 std::vector<std::string>* problems) {
    Hive hive;
    std::vector<std::string> lines = SplitLines(DecodeText(bytes));
    bool sawHeader = false;
    bool oldFormat = false;
    // Indices, not pointers: keys_ grows while lines are read.
    std::optional<std::size_t> current;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::size_t lineNo = n + 1;
        std::string line = Trim(lines[n]);
        if (line.empty())
            continue;
        if (!sawHeader && !current && hive.preamble_.empty() &&
            (line == kHeader || line == kOldHeader)) {
            oldFormat = line == kOldHeader;
            sawHeader = true;
            continue;
        }
        auto keep = [&](const std::string& text, bool report) {
            if (report)
                Report(source, lineNo, text, problems);
            if (current) {
                Line l;
                l.verbatim = true;
                l.text = text;
                hive.keys_[*current].lines.push_back(std::move(l));
            } else {
                hive.preamble_.push_back(text);
            }
        };
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3 || line[1] == '-' || line[1] == '\\') {
                // Not a key we can name (or a deletion, meaningless in a
                // hive): the lines below belong to it, not to the key above.
                Report(source, lineNo, lines[n], problems);
                Key block;
                block.verbatimHeader = lines[n];
                hive.keys_.push_back(std::move(block));
                current = hive.keys_.size() - 1;
                continue;
            }
            std::string full = line.substr(1, line.size() - 2);
            std::size_t slash = full.find('\\');
            std::string rootName = full.substr(0, slash);
            std::string path = slash == std::string::npos
                                   ? std::string()
                                   : NormalizeKeyPath(full.substr(slash + 1));
            current.reset();
            // A key given twice (also once in full and once by its short
            // root name) is one key, as when the file is imported.
            for (std::size_t k = 0; k < hive.keys_.size(); ++k) {
                const Key& key = hive.keys_[k];
                if (key.verbatimHeader.empty() &&
                    CanonicalRoot(key.root) == CanonicalRoot(rootName) &&
                    NamesEqual(key.path, path)) {
                    current = k;
                    break;
                }
            }
            if (!current) {
                Key key;
                key.root = rootName;
                key.path = path;
                hive.keys_.push_back(std::move(key));
                current = hive.keys_.size() - 1;
            }
            continue;
        }
        if (line[0] == ';' || (current && !hive.keys_[*current].verbatimHeader.empty())) {
            keep(lines[n], false);
            continue;
        }
        // A value, possibly continued over several lines ending in '\'. Only
        // hex data continues: a key line or another value ends it.
        std::string logical = line;
        std::string raw = lines[n];
        std::string lower;
        for (char c : logical)
            lower.push_back(AsciiLower(c));
        bool hex = lower.find("=hex") != std::string::npos;
        while (hex && !logical.empty() && logical.back() == '\\' && n + 1 < lines.size() &&
               IsHexContinuation(lines[n + 1])) {
            ++n;
            logical.pop_back();
            logical += Trim(lines[n]);
            raw += "\n" + lines[n];
        }
        Value v;
        if (!current || !(line[0] == '"' || line[0] == '@') || !ParseValueLine(logical, &v)) {
            keep(raw, true);
            continue;
        }
        v.raw = raw;
        if (oldFormat)
            ConvertOldStrings(&v);
        Line l;
        l.value = std::move(v);
        hive.keys_[*current].lines.push_back(std::move(l));
    }
    return hive;
}

std::string Hive::Serialize() const {
    // Always the current format: strings of an old "REGEDIT4" file were
    // brought to it when they were read.
    std::string out = std::string(kHeader) + "\n\n";
    for (const std::string& p : preamble_)
        out += p + "\n";
    if (!preamble_.empty())
        out += "\n";
    for (const Key& k : keys_) {
        if (!k.verbatimHeader.empty())
            out += k.verbatimHeader + "\n";
        else
            out += "[" + k.root + (k.path.empty() ? "" : "\\" + k.path) + "]\n";
        for (const Line& l : k.lines) {
            if (l.verbatim)
                out += l.text;
            else if (!l.value.raw.empty())
                out += l.value.raw;
            else
                out += FormatValue(l.value);
            out += "\n";
        }
        out += "\n";
    }
    return out;
}

Key* Hive::FindKey(Root root, std::string_view path) {
    return const_cast<Key*>(static_cast<const Hive*>(this)->FindKey(root, path));
}

const Key* Hive::FindKey(Root root, std::string_view path) const {
    std::string p = NormalizeKeyPath(path);
    for (const Key& k : keys_)
        if (k.verbatimHeader.empty() && RootMatches(k.root, root) && NamesEqual(k.path, p))
            return &k;
    return nullptr;
}

bool Hive::KeyExists(Root root, std::string_view path) const {
    std::string p = NormalizeKeyPath(path);
    if (p.empty())
        return true;
    for (const Key& k : keys_) {
        if (!k.verbatimHeader.empty() || !RootMatches(k.root, root))
            continue;
        if (NamesEqual(k.path, p))
            return true;
        if (k.path.size() > p.size() && k.path[p.size()] == '\\' &&
            NamesEqual(std::string_view(k.path).substr(0, p.size()), p))
            return true;
    }
    return false;
}

Key& Hive::CreateKey(Root root, std::string_view path) {
    if (Key* k = FindKey(root, path))
        return *k;
    Key key;
    key.root = RootName(root);
    key.path = NormalizeKeyPath(path);
    keys_.push_back(std::move(key));
    return keys_.back();
}

std::string RegistryFolder() {
    const char* dir = std::getenv("VELSERIN_REGISTRY_DIR");
    std::string d;
    if (dir && *dir) {
        d = dir;
    } else {
        const char* data = std::getenv("XDG_DATA_HOME");
        if (data && data[0] == '/')
            d = data;
        else
            d = HomeFolder() + "/.local/share";
        d += "/Ostrevin/registry";
    }
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    return d;
}

std::string HivePath(Root root) {
    return RegistryFolder() + (root == Root::LocalMachine ? "/system.reg" : "/user.reg");
}

bool LoadHive(Root root, Hive* hive, int* error) {
    std::string path = HivePath(root);
    std::string bytes;
    int err = 0;
    if (!ReadWholeFile(path, &bytes, &err)) {
        if (err == ENOENT || err == ENOTDIR) {
            *hive = Hive();
            if (error)
                *error = 0;
            return true;
        }
        if (error)
            *error = err;
        *hive = Hive();
        return false;
    }
    *hive = Hive::Parse(bytes, path);
    if (error)
        *error = 0;
    return true;
}

Lookup QueryValue(Root root, std::string_view keyPath, std::string_view name, Value* out) {
    Hive hive;
    LoadHive(root, &hive);
    if (!hive.KeyExists(root, keyPath))
        return Lookup::NoKey;
    const Key* key = hive.FindKey(root, keyPath);
    const Value* v = key ? key->FindValue(name) : nullptr;
    if (!v)
        return Lookup::NoValue;
    if (out)
        *out = *v;
    return Lookup::Found;
}

namespace {

// Makes a folder and the folders above it, new ones closed to others.
bool MakeFolders(const std::string& path, int* error) {
    if (DirectoryExists(path))
        return true;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (part.empty() || DirectoryExists(part))
            continue;
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = errno;
            return false;
        }
    }
    if (!DirectoryExists(path)) {
        *error = ENOTDIR;
        return false;
    }
    return true;
}

// A hive that is a symbolic link (to a shared copy, say) is replaced where
// it points, so that the link survives.
std::string ResolvedHivePath(Root root) {
    return ResolvedPath(HivePath(root));
}

bool TakeLock(int fd, int* error) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    // Poll rather than block, so that a writer that hangs cannot hang us.
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockTimeoutMilliseconds);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0)
            return true;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            *error = errno;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            *error = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}

}  // namespace

HiveWriter::HiveWriter(Root root) : root_(root) {}

HiveWriter::~HiveWriter() {
    End();
}

bool HiveWriter::Begin(int* error) {
    int err = 0;
    auto fail = [&](int e) {
        End();
        if (error)
            *error = e;
        return false;
    };
    if (IsOpen()) {
        if (error)
            *error = EBUSY;
        return false;
    }
    const std::string path = ResolvedHivePath(root_);
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!MakeFolders(folder.empty() ? "/" : folder, &err))
        return fail(err);

    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    // The lock file takes the hive's mode, so that whoever may write the
    // hive may also take its lock.
    mode_t mode = exists ? (st.st_mode & 0666) : NewFileMode();
    int fd = ::open((HivePath(root_) + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0)
        return fail(errno);
    lockFd_ = fd;
    if (!TakeLock(fd, &err))
        return fail(err);

    // Under the lock: what another writer committed before us is in the file now.
    std::string bytes;
    if (!ReadWholeFile(path, &bytes, &err)) {
        if (err != ENOENT)
            return fail(err);
        hive_ = Hive();
    } else {
        if (::access(path.c_str(), W_OK) != 0)
            return fail(errno);
        hive_ = Hive::Parse(bytes, path);
    }
    committed_ = hive_.Serialize();
    if (error)
        *error = 0;
    return true;
}

bool HiveWriter::Commit(int* error) {
    if (!IsOpen()) {
        if (error)
            *error = EBADF;
        return false;
    }
    std::string text = hive_.Serialize();
    if (text == committed_) {
        if (error)
            *error = 0;
        return true;
    }
    int err = 0;
    if (!ReplaceFileAtomically(ResolvedHivePath(root_), text, NewFileMode(), &err)) {
        if (error)
            *error = err;
        return false;
    }
    committed_ = std::move(text);
    if (error)
        *error = 0;
    return true;
}

void HiveWriter::End() {
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // closing the description releases its lock
        lockFd_ = -1;
    }
}

bool UpdateHive(Root root, const std::function<bool(Hive&)>& change, int* error) {
    HiveWriter writer(root);
    if (!writer.Begin(error))
        return false;
    if (!change(writer.Contents())) {
        if (error)
            *error = 0;
        return true;
    }
    return writer.Commit(error);
}

bool CreateKey(Root root, std::string_view keyPath, int* error) {
    if (!IsStorableName(keyPath)) {
        if (error)
            *error = EINVAL;
        return false;
    }
    return UpdateHive(
        root,
        [&](Hive& hive) {
            if (hive.KeyExists(root, keyPath))
                return false;
            hive.CreateKey(root, keyPath);
            return true;
        },
        error);
}

bool SetStringValue(Root root, std::string_view keyPath, std::string_view name,
                    std::string_view text, int* error) {
    if (!IsStorableName(keyPath) || !IsStorableName(name) || !IsValidUtf8(text)) {
        if (error)
            *error = EINVAL;
        return false;
    }
    return UpdateHive(
        root, [&](Hive& hive) { return hive.CreateKey(root, keyPath).SetString(name, text); },
        error);
}

}  // namespace platform::registry
