#pragma once
// The suite's registry keys as the tests write them into hives and look
// them up.

namespace settingskeys {

inline constexpr const char* kCommonKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Ostrevin\\VelSerin\\4.0\\Common]\n";
inline constexpr const char* kDirectoryKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Ostrevin\\VelSerin\\4.0\\Directory]\n";
inline constexpr const char* kCommonPath = "Software\\Ostrevin\\VelSerin\\4.0\\Common";
inline constexpr const char* kDirectoryPath = "Software\\Ostrevin\\VelSerin\\4.0\\Directory";

}  // namespace settingskeys
