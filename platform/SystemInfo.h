#pragma once
// Shell folders and facts about the system, answered the way a Linux desktop
// keeps them.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Shell special-folder numbers that the suite asks for.
constexpr int kFolderPersonal = 5;  // the user's documents
constexpr int kFolderAppData = 26;  // the roaming application-data folder

// The path of a special folder without a trailing '/', or empty when the
// folder is unknown. Documents: $XDG_DOCUMENTS_DIR, else the user-dirs.dirs
// entry, else $HOME/Documents. Application data: $XDG_CONFIG_HOME, else
// $HOME/.config.
std::string SpecialFolderPath(int folder);

// The user's home folder ($HOME, else the password database), without a
// trailing '/'; empty when unknown.
std::string HomeFolder();

// The operating system's platform id: always 2, the NT family.
constexpr std::uint32_t kPlatformWin32NT = 2;
std::uint32_t PlatformId();

std::uint64_t TotalPhysicalMemory();

// The running program's full path, and its file name.
std::string ProgramPath();
std::string ProgramName();

// The system's "ANSI code page" for 8-bit texts in old files: taken from the
// user's locale (Korean 949, simplified Chinese 936, traditional Chinese 950,
// Thai 874, Japanese 932, anything else 1252); $VELSERIN_ANSI_CODEPAGE
// overrides it.
int AnsiCodePage();

// Conversions between the ANSI code page and UTF-8 / UTF-16. Bytes that do
// not convert become U+FFFD (to Unicode) or '?' (to ANSI).
std::string AnsiToUtf8(std::string_view ansi, int codePage = AnsiCodePage());
std::string Utf8ToAnsi(std::string_view utf8, int codePage = AnsiCodePage());
std::u16string AnsiToUtf16(std::string_view ansi, int codePage = AnsiCodePage());
std::string Utf16ToAnsi(std::u16string_view text, int codePage = AnsiCodePage());

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
bool IsValidUtf8(std::string_view text);

}  // namespace platform
