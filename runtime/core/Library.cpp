#include "Library.h"

#include "RuntimeError.h"

#ifdef _WIN32
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

// The program's folder, the system folders and PATH; never the current
// directory, where anyone who can leave a file could plant a DLL.
Handle openLibrary(const std::string &name)
{
    const std::wstring wide(name.begin(), name.end());
    SetDllDirectoryW(L"");
    return LoadLibraryW(wide.c_str());
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
