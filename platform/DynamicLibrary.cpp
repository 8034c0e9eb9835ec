#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace platform {

namespace {

thread_local std::string lastError;

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size())
        return false;
    text = text.substr(text.size() - tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(tail[i])))
            return false;
    }
    return true;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsWintab(std::string_view name) {
    return name.size() == 12 && EndsWithNoCase(name, "wintab32.dll");
}

// The file $VELSERIN_WINTAB names in place of the Wintab library, or null.
const char* WintabOverride(std::string_view name) {
    if (!IsWintab(name))
        return nullptr;
    const char* over = std::getenv("VELSERIN_WINTAB");
    return over && *over ? over : nullptr;
}

std::string ProgramFolder() {
    std::string path = ProgramPath();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void Report(const std::string& file, const std::string& why) {
    std::fprintf(stderr, "%s: cannot load %s: %s\n", ProgramName().c_str(), file.c_str(),
                 why.c_str());
}

}  // namespace

std::vector<std::string> LibraryCandidates(std::string_view name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string_view::npos)
        return {std::string(name)};
    if (const char* over = WintabOverride(name))
        return {over};
    std::string file;
    if (EndsWithNoCase(name, ".dll")) {
        file = "lib" + Lower(name.substr(0, name.size() - 4)) + ".so";
    } else {
        file = std::string(name);
    }
    std::vector<std::string> out;
    std::string folder = ProgramFolder();
    if (!folder.empty())
        out.push_back(folder + "/" + file);
    out.push_back(file);  // the system's library paths
    return out;
}

HMODULE LoadLibrary(std::string_view name) {
    std::vector<std::string> candidates = LibraryCandidates(name);
    bool explicitFile = WintabOverride(name) != nullptr;
    lastError = candidates.empty() ? "no library name" : "";
    for (const std::string& file : candidates) {
        bool isPath = file.find('/') != std::string::npos;
        if (isPath && !FileExists(file)) {
            lastError = file + ": no such file";
            if (explicitFile)
                Report(file, "no such file");
            continue;
        }
        ::dlerror();
        if (void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            lastError.clear();
            return module;
        }
        const char* why = ::dlerror();
        lastError = why ? why : "unknown error";
        // A file that is there but does not load (wrong architecture, a
        // missing dependency) is worth a line; an absent one is normal.
        if (isPath)
            Report(file, lastError);
    }
    return nullptr;
}

void* GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name)
        return nullptr;
    return ::dlsym(module, name);
}

bool FreeLibrary(HMODULE module) {
    return module && ::dlclose(module) == 0;
}

const std::string& LastLibraryError() {
    return lastError;
}

}  // namespace platform
