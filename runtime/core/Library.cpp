#include "Library.h"

#include "RuntimeError.h"

#ifdef _WIN32
#include <algorithm>
#include <vector>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace runtime {
namespace {

#ifdef _WIN32
using Handle = HMODULE;
constexpr const char *loadFix = "put the DLL beside portpanel.exe or in a folder on PATH";

std::string systemMessage()
{
    const DWORD code = GetLastError();
    wchar_t *text = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = "Windows error " + std::to_string(code);
    if (length > 0) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                             nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr,
                            nullptr);
        while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' '))
            utf8.pop_back();
        message += ": " + utf8;
    }
    LocalFree(text);
    return message;
}

std::wstring programFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD size = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring file(path, size);
    return file.substr(0, file.find_last_of(L'\\'));
}

// The program's folder, the system folders, then PATH's absolute entries.
std::vector<std::wstring> searchedFolders()
{
    wchar_t folder[MAX_PATH];
    std::vector<std::wstring> folders{programFolder()};
    folders.emplace_back(folder, GetSystemDirectoryW(folder, MAX_PATH));
    folders.emplace_back(folder, GetWindowsDirectoryW(folder, MAX_PATH));
    std::wstring path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    for (std::size_t start = 0, end = 0; start <= path.size(); start = end + 1) {
        end = std::min(path.find(L';', start), path.size());
        const std::wstring entry = path.substr(start, end - start);
        const bool absolute = entry.starts_with(L"\\\\") ||
                              (entry.size() > 2 && entry[1] == L':' && entry[2] == L'\\');
        if (absolute)
            folders.push_back(entry);
    }
    return folders;
}

// Never the current directory (nor a relative PATH entry), where anyone who
// can leave a file could plant a DLL; Windows' own search would look there.
Handle openLibrary(const std::string &name)
{
    SetDllDirectoryW(L""); // nor for the DLL's own dependencies
    for (const std::wstring &folder : searchedFolders()) {
        const std::wstring file = folder + L'\\' + std::wstring(name.begin(), name.end());
        if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            return LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

Handle loadedLibrary(const std::string &name)
{
    const std::wstring wide(name.begin(), name.end());
    return GetModuleHandleW(wide.c_str());
}

void *findSymbol(Handle library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(library, name));
}
#else
using Handle = void *;
constexpr const char *loadFix =
    "install portpanel's port library, or put its folder on LD_LIBRARY_PATH";

std::string systemMessage()
{
    const char *message = dlerror();
    return message ? message : "unknown loader error";
}

Handle openLibrary(const std::string &name) { return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL); }

Handle loadedLibrary(const std::string &name)
{
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

void *findSymbol(Handle library, const char *name)
{
    dlerror();
    return dlsym(library, name);
}
#endif

void checkReady(Handle library, const std::string &name)
{
    using Readiness = const char *(*)();
    const auto ask = reinterpret_cast<Readiness>(findSymbol(library, readinessEntryPoint));
    const char *problem = ask ? ask() : nullptr;
    if (problem)
        throw RuntimeError(ErrorNumber::LibraryNotReady, name + " cannot work here: " + problem);
}

} // namespace

std::string loaderName(const char *library)
{
#ifdef _WIN32
    return library;
#else
    std::string base = library;
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0)
        base.resize(base.size() - 4);
    return "lib" + base + ".so";
#endif
}

void *bind(EntryPoint &entry)
{
    const std::string name = loaderName(entry.library);
    const Handle library = openLibrary(name);
    if (!library)
        throw RuntimeError(ErrorNumber::LibraryNotLoaded, "cannot load the port library " + name +
                                                              " (" + systemMessage() + "); " +
                                                              loadFix);
    checkReady(library, name);
    void *function = findSymbol(library, entry.name);
    if (!function)
        throw RuntimeError(ErrorNumber::EntryPointMissing,
                           std::string("the port library ") + name + " has no entry point " +
                               entry.name + " (" + systemMessage() +
                               "); it is not a port library this program can use");
    entry.bound = function;
    return function;
}

void *optionalEntryPoint(const EntryPoint &entry, const char *name)
{
    const Handle library = entry.bound ? loadedLibrary(loaderName(entry.library)) : nullptr;
    return library ? findSymbol(library, name) : nullptr;
}

} // namespace runtime
