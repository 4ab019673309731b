#include "WindowsFrontEnd.h"

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace WindowsFrontEnd {

namespace {
const char kLibraryFolder[] = "windows";
const char kLibraryName[] = "certwright-windows.so";
const char kEntryName[] = "certwrightWindowsMain";
const char kCannotLoadMessage[] = "Certwright cannot start its windows: %s\n";

// The library in its folder beside the running executable, or an empty path when the executable
// cannot be named.
std::filesystem::path libraryBesideProgram() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return program.parent_path() / kLibraryFolder / kLibraryName;
}
} // namespace

int start(int argc, char** argv) {
    const std::filesystem::path beside = libraryBesideProgram();
    std::error_code error;
    const bool isBeside = !beside.empty() && std::filesystem::exists(beside, error);
    void* library =
        dlopen(isBeside ? beside.c_str() : kLibraryName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    using Entry = int (*)(int, char**);
    const auto entry = library ? reinterpret_cast<Entry>(dlsym(library, kEntryName)) : nullptr;
    if (!entry) {
        std::fprintf(stderr, kCannotLoadMessage, dlerror());
        return 1;
    }
    return entry(argc, argv);
}

} // namespace WindowsFrontEnd
