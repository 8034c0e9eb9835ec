#include "platform/Registry.h"

#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace platform::registry {

namespace {

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

// Decodes a hive file's bytes to UTF-8 text.
std::string DecodeText(std::string_view bytes) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF))) {
        bool little = b(0) == 0xFF;
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            char16_t u = little ? char16_t(b(i) | (b(i + 1) << 8)) : char16_t((b(i) << 8) | b(i + 1));
            units.push_back(u);
        }
        return Utf16ToUtf8(units);
    }
    if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) bytes.remove_prefix(3);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    // An old 8-bit export ("REGEDIT4"): read it in the ANSI code page.
    return AnsiToUtf8(bytes);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

// Parses a quoted string starting at s[i] == '"'. Escapes: \\ and \".
bool ParseQuoted(const std::string& s, std::size_t& i, std::string* out) {
    if (i >= s.size() || s[i] != '"') return false;
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
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseHexBytes(std::string_view s, std::vector<std::uint8_t>* out) {
    out->clear();
    std::string t;
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\\') t.push_back(c);
    if (t.empty()) return true;
    std::size_t i = 0;
    while (i < t.size()) {
        std::size_t comma = t.find(',', i);
        if (comma == std::string::npos) comma = t.size();
        std::string_view byte(t.data() + i, comma - i);
        if (byte.empty() || byte.size() > 2) return false;
        int v = 0;
        for (char c : byte) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out->push_back(static_cast<std::uint8_t>(v));
        i = comma + 1;
        if (comma + 1 == t.size()) return false;  // trailing comma
    }
    return true;
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
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') return false;
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
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
    for (char c : rest) lower.push_back(AsciiLower(c));
    if (lower.rfind("dword:", 0) == 0) {
        std::string digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        std::uint32_t d = 0;
        for (char c : digits) {
            int h = HexDigit(c);
            if (h < 0) return false;
            d = d * 16 + std::uint32_t(h);
        }
        v->type = ValueType::DWord;
        for (int k = 0; k < 4; ++k) v->data.push_back(std::uint8_t(d >> (8 * k)));
        return true;
    }
    if (lower.rfind("hex:", 0) == 0) {
        v->type = ValueType::Binary;
        return ParseHexBytes(std::string_view(rest).substr(4), &v->data);
    }
    if (lower.rfind("hex(", 0) == 0) {
        std::size_t close = rest.find("):");
        if (close == std::string::npos || close == 4 || close > 12) return false;
        std::uint32_t t = 0;
        for (std::size_t k = 4; k < close; ++k) {
            int h = HexDigit(rest[k]);
            if (h < 0) return false;
            t = t * 16 + std::uint32_t(h);
        }
        v->type = static_cast<ValueType>(t);
        return ParseHexBytes(std::string_view(rest).substr(close + 2), &v->data);
    }
    return false;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string FormatValue(const Value& v) {
    std::string line = v.name.empty() ? "@" : Quote(v.name);
    line += "=";
    char buf[16];
    switch (v.type) {
        case ValueType::String:
            line += Quote(v.text);
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
    for (std::size_t k = 0; k < v.data.size(); ++k) {
        std::snprintf(buf, sizeof buf, k ? ",%02x" : "%02x", v.data[k]);
        line += buf;
    }
    return line;
}

bool RootMatches(std::string_view name, Root root) {
    if (root == Root::LocalMachine) return NamesEqual(name, "HKEY_LOCAL_MACHINE") || NamesEqual(name, "HKLM");
    return NamesEqual(name, "HKEY_CURRENT_USER") || NamesEqual(name, "HKCU");
}

void Report(const std::string& source, std::size_t lineNo, const std::string& line,
            std::vector<std::string>* problems) {
    std::string msg = (source.empty() ? std::string("registry") : source) + ":" +
                      std::to_string(lineNo) + ": line not understood, kept as it is: " + line;
    if (problems) problems->push_back(msg);
    // Every batch re-reads the hive: say it once per process, not once per read.
    static std::mutex m;
    static std::set<std::string> reported;
    std::lock_guard<std::mutex> lock(m);
    if (reported.insert(source + "\n" + line).second)
        std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), msg.c_str());
}

}  // namespace

std::string Value::Text() const {
    if (type == ValueType::String) return text;
    if (type != ValueType::ExpandString) return {};
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        units.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    std::size_t nul = units.find(u'\0');
    if (nul != std::u16string::npos) units.resize(nul);
    return Utf16ToUtf8(units);
}

std::uint32_t Value::DWordValue() const {
    std::uint32_t d = 0;
    for (std::size_t k = 0; k < 4 && k < data.size(); ++k) d |= std::uint32_t(data[k]) << (8 * k);
    return d;
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (IsAscii(a) && IsAscii(b)) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
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
        if (end == std::string_view::npos) end = path.size();
        if (end > i) {
            if (!out.empty()) out.push_back('\\');
            out.append(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return out;
}

const char* RootName(Root root) {
    return root == Root::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

const Value* Key::FindValue(std::string_view name) const {
    // A name given twice: the later line wins, as when the file is imported.
    const Value* found = nullptr;
    for (const Line& l : lines)
        if (!l.verbatim && NamesEqual(l.value.name, name)) found = &l.value;
    return found;
}

Value* Key::FindValue(std::string_view name) {
    return const_cast<Value*>(static_cast<const Key*>(this)->FindValue(name));
}

void Key::SetString(std::string_view name, std::string_view text) {
    Value* existing = nullptr;
    for (auto it = lines.begin(); it != lines.end();) {
        if (!it->verbatim && NamesEqual(it->value.name, name)) {
            if (!existing) {
                existing = &it->value;
                ++it;
            } else {
                it = lines.erase(it);
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
        lines.push_back(std::move(l));
        existing = &lines.back().value;
    }
    if (existing->type == ValueType::String && existing->text == text && !existing->raw.empty())
        return;  // unchanged: keep the line as it was written
    existing->type = ValueType::String;
    existing->text = std::string(text);
    existing->data.clear();
    existing->raw.clear();
}

Hive Hive::Parse(std::string_view bytes, const std::string& source,
                 std::vector<std::string>* problems) {
    Hive hive;
    std::vector<std::string> lines = SplitLines(DecodeText(bytes));
    bool sawHeader = false;
    Key* current = nullptr;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::size_t lineNo = n + 1;
        std::string line = Trim(lines[n]);
        if (line.empty()) continue;
        if (!sawHeader && !current && hive.preamble_.empty() &&
            (line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4")) {
            hive.header_ = line;
            sawHeader = true;
            continue;
        }
        auto keep = [&](const std::string& text, bool report) {
            if (report) Report(source, lineNo, text, problems);
            if (current) {
                Line l;
                l.verbatim = true;
                l.text = text;
                current->lines.push_back(std::move(l));
            } else {
                hive.preamble_.push_back(text);
            }
        };
        if (line[0] == ';') {
            keep(lines[n], false);
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
                keep(lines[n], true);
                continue;
            }
            std::string full = line.substr(1, line.size() - 2);
            std::size_t slash = full.find('\\');
            std::string rootName = full.substr(0, slash);
            std::string path = slash == std::string::npos ? std::string() : NormalizeKeyPath(full.substr(slash + 1));
            current = nullptr;
            for (Key& k : hive.keys_)
                if (NamesEqual(k.root, rootName) && NamesEqual(k.path, path)) current = &k;
            if (!current) {
                hive.keys_.push_back(Key{rootName, path, {}});
                current = &hive.keys_.back();
            }
            continue;
        }
        // A value, possibly continued over several lines ending in '\'.
        std::string logical = line;
        std::string raw = lines[n];
        while (!logical.empty() && logical.back() == '\\' && logical.find("=hex") != std::string::npos &&
               n + 1 < lines.size()) {
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
        Line l;
        l.value = std::move(v);
        current->lines.push_back(std::move(l));
    }
    return hive;
}

std::string Hive::Serialize() const {
    std::string out = header_ + "\n\n";
    for (const std::string& p : preamble_) out += p + "\n";
    if (!preamble_.empty()) out += "\n";
    for (const Key& k : keys_) {
        out += "[" + k.root + (k.path.empty() ? "" : "\\" + k.path) + "]\n";
        for (const Line& l : k.lines) {
            if (l.verbatim) out += l.text;
            else if (!l.value.raw.empty()) out += l.value.raw;
            else out += FormatValue(l.value);
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
        if (RootMatches(k.root, root) && NamesEqual(k.path, p)) return &k;
    return nullptr;
}

bool Hive::KeyExists(Root root, std::string_view path) const {
    std::string p = NormalizeKeyPath(path);
    if (p.empty()) return true;
    for (const Key& k : keys_) {
        if (!RootMatches(k.root, root)) continue;
        if (NamesEqual(k.path, p)) return true;
        if (k.path.size() > p.size() && k.path[p.size()] == '\\' &&
            NamesEqual(std::string_view(k.path).substr(0, p.size()), p))
            return true;
    }
    return false;
}

Key& Hive::CreateKey(Root root, std::string_view path) {
    if (Key* k = FindKey(root, path)) return *k;
    keys_.push_back(Key{RootName(root), NormalizeKeyPath(path), {}});
    return keys_.back();
}

std::string RegistryFolder() {
    const char* dir = std::getenv("VELSERIN_REGISTRY_DIR");
    std::string d;
    if (dir && *dir) {
        d = dir;
    } else {
        const char* data = std::getenv("XDG_DATA_HOME");
        if (data && data[0] == '/') d = data;
        else d = HomeFolder() + "/.local/share";
        d += "/Ostrevin/registry";
    }
    while (d.size() > 1 && d.back() == '/') d.pop_back();
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
            if (error) *error = 0;
            return true;
        }
        if (error) *error = err;
        *hive = Hive();
        return false;
    }
    *hive = Hive::Parse(bytes, path);
    if (error) *error = 0;
    return true;
}

Lookup QueryValue(Root root, std::string_view keyPath, std::string_view name, Value* out) {
    Hive hive;
    LoadHive(root, &hive);
    if (!hive.KeyExists(root, keyPath)) return Lookup::NoKey;
    const Key* key = hive.FindKey(root, keyPath);
    const Value* v = key ? key->FindValue(name) : nullptr;
    if (!v) return Lookup::NoValue;
    if (out) *out = *v;
    return Lookup::Found;
}

}  // namespace platform::registry
