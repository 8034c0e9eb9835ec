#include "platform/SystemInfo.h"

#include <iconv.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace platform {

namespace {

std::string StripTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Reads XDG_DOCUMENTS_DIR from user-dirs.dirs ("$HOME/..." or an absolute path).
std::string DocumentsFromUserDirs(const std::string& configHome, const std::string& home) {
    std::string text;
    if (configHome.empty() || !ReadWholeFile(configHome + "/user-dirs.dirs", &text))
        return {};
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::string key = "XDG_DOCUMENTS_DIR=";
        std::size_t k = line.find_first_not_of(" \t");
        if (k == std::string::npos || line.compare(k, key.size(), key) != 0)
            continue;
        std::string value = line.substr(k + key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return StripTrailingSlash(value);
    }
    return {};
}

}  // namespace

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    }
    return StripTrailingSlash(home);
}

static std::string ConfigHome() {
    std::string c = Env("XDG_CONFIG_HOME");
    if (!c.empty() && c[0] == '/')
        return StripTrailingSlash(c);
    std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config";
}

std::string SpecialFolderPath(int folder) {
    switch (folder) {
        case kFolderAppData: {
            // The Windows shell's application-data folder always exists; the
            // XDG rules say to make a missing one (mode 0700) on first use.
            std::string dir = ConfigHome();
            if (!dir.empty() && !DirectoryExists(dir)) {
                std::error_code ec;
                std::filesystem::create_directories(dir, ec);
                if (!ec)
                    ::chmod(dir.c_str(), 0700);
            }
            return dir;
        }
        case kFolderPersonal: {
            std::string d = Env("XDG_DOCUMENTS_DIR");
            if (!d.empty() && d[0] == '/')
                return StripTrailingSlash(d);
            std::string home = HomeFolder();
            d = DocumentsFromUserDirs(ConfigHome(), home);
            if (!d.empty())
                return d;
            return home.empty() ? std::string() : home + "/Documents";
        }
        default:
            return {};
    }
}

std::uint32_t PlatformId() {
    return kPlatformWin32NT;
}

std::uint64_t TotalPhysicalMemory() {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || size <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}

std::string ProgramPath() {
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buf.size())
            return std::string(buf.data(), std::size_t(n));
        buf.resize(buf.size() * 2);
    }
}

std::string ProgramName() {
    std::string path = ProgramPath();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int AnsiCodePage() {
    std::string over = Env("VELSERIN_ANSI_CODEPAGE");
    if (!over.empty()) {
        char* end = nullptr;
        long cp = std::strtol(over.c_str(), &end, 10);
        if (end && *end == '\0' && cp > 0 && cp < 65536)
            return static_cast<int>(cp);
    }
    std::string locale = Env("LC_ALL");
    if (locale.empty())
        locale = Env("LC_CTYPE");
    if (locale.empty())
        locale = Env("LANG");
    auto starts = [&](const char* p) { return locale.rfind(p, 0) == 0; };
    if (starts("ko"))
        return 949;
    if (starts("ja"))
        return 932;
    if (starts("th"))
        return 874;
    if (starts("zh")) {
        if (locale.find("TW") != std::string::npos || locale.find("HK") != std::string::npos ||
            locale.find("MO") != std::string::npos || locale.find("Hant") != std::string::npos)
            return 950;
        return 936;
    }
    return 1252;
}

namespace {

const char* IconvName(int codePage) {
    switch (codePage) {
        case 949:
            return "CP949";
        case 936:
            return "CP936";
        case 950:
            return "CP950";
        case 874:
            return "CP874";
        case 932:
            return "CP932";
        case 1250:
            return "CP1250";
        case 1251:
            return "CP1251";
        case 1253:
            return "CP1253";
        case 1254:
            return "CP1254";
        case 1257:
            return "CP1257";
        default:
            return "CP1252";
    }
}

// Converts with iconv, replacing what cannot be converted; falls back to
// Latin-1 when the converter is missing so that no text is lost outright.
std::string Convert(std::string_view in, const char* from, const char* to,
                    const char* replacement) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string();
    std::string out;
    out.reserve(in.size() * 2 + 8);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        std::size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, sizeof buf - dstLeft);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: skip one byte (or one UTF-16 unit) and mark it.
            out += replacement;
            std::size_t skip = 1;
            if (std::strcmp(from, "UTF-8") == 0) {
                // Skip the whole character, not just its first byte.
                while (skip < srcLeft && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80)
                    ++skip;
            }
            skip = skip > srcLeft ? srcLeft : skip;
            src += skip;
            srcLeft -= skip;
        }
    }
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, sizeof buf - dstLeft);
    ::iconv_close(cd);
    return out;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi, int codePage) {
    return Convert(ansi, IconvName(codePage), "UTF-8", "\xEF\xBF\xBD");
}

std::string Utf8ToAnsi(std::string_view utf8, int codePage) {
    std::string name = std::string(IconvName(codePage));
    return Convert(utf8, "UTF-8", name.c_str(), "?");
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
            len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
            if (i + len <= utf8.size()) {
                char32_t v = c & (0x7F >> len);
                bool ok = true;
                for (std::size_t k = 1; k < len; ++k) {
                    unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
                    if ((cc & 0xC0) != 0x80) {
                        ok = false;
                        len = k;
                        break;
                    }
                    v = (v << 6) | (cc & 0x3F);
                }
                if (ok)
                    cp = v;
            } else {
                len = 1;
            }
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi, int codePage) {
    return Utf8ToUtf16(AnsiToUtf8(ansi, codePage));
}

std::string Utf16ToAnsi(std::u16string_view text, int codePage) {
    return Utf8ToAnsi(Utf16ToUtf8(text), codePage);
}

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len;
        if (c < 0x80)
            len = 1;
        else if ((c >> 5) == 0x6 && c >= 0xC2)
            len = 2;
        else if ((c >> 4) == 0xE)
            len = 3;
        else if ((c >> 3) == 0x1E && c <= 0xF4)
            len = 4;
        else
            return false;
        if (i + len > s.size())
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

}  // namespace platform
