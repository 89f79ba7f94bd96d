#include "LibraryFile.h"

#include "PortFinder.h"
#include "PortIO.h"

#ifdef _WIN32
#include "WideText.h"

#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace cli {

std::string boundLibraryFile()
{
    const auto entry = reinterpret_cast<void *>(portio::declared::inp32);
#ifdef _WIN32
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH * 4];
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (GetModuleHandleExW(flags, static_cast<LPCWSTR>(entry), &module))
        if (const DWORD length = GetModuleFileNameW(module, path, MAX_PATH * 4))
            return runtime::utf8(std::wstring(path, length));
#else
    Dl_info info{};
    if (dladdr(entry, &info) && info.dli_fname)
        return info.dli_fname;
#endif
    return "(unknown)";
}

std::string routeOf(std::uint16_t port)
{
    for (const finder::FoundPort &found : finder::findPorts())
        for (const finder::IoRange &range : found.ranges)
            if (port >= range.first && port <= range.last)
                return found.name + ": " + found.access;
    return "not a port this system lists";
}

} // namespace cli
