#pragma once
// Libraries loaded at run time, by their Windows names: "Wintab32.dll" is
// libwintab32.so, searched next to the running program first and then on the
// system's library paths; $VELSERIN_WINTAB names another file for it.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

using HMODULE = void*;

// The files tried, in order, for a library name. "Name.dll" stands for
// "libname.so"; a name with a '/' is a path and is tried alone.
std::vector<std::string> LibraryCandidates(std::string_view name);

// Loads the first candidate that loads; null when none does. A candidate
// that exists but cannot be loaded (or one named by $VELSERIN_WINTAB) is
// reported on stderr; a library that is simply absent is not.
HMODULE LoadLibrary(std::string_view name);
// The address of an exported symbol, or null (also for a null module).
void* GetProcAddress(HMODULE module, const char* name);
// The same as a pointer to a function of type F.
template <class F>
F* GetProcAddressAs(HMODULE module, const char* name) {
    return reinterpret_cast<F*>(GetProcAddress(module, name));
}
bool FreeLibrary(HMODULE module);

// Why the last LoadLibrary on this thread failed ("" after a success).
const std::string& LastLibraryError();

}  // namespace platform
