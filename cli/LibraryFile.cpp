#include "LibraryFile.h"

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
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (GetModuleHandleExW(flags, static_cast<LPCWSTR>(entry), &module)) {
        std::wstring path(32768, L'\0'); // the longest path Windows has
        path.resize(GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
        if (!path.empty())
            return runtime::utf8(path);
    }
#else
    Dl_info info{};
    if (dladdr(entry, &info) && info.dli_fname)
        return info.dli_fname;
#endif
    return "(unknown)";
}

std::string routeOf(std::uint16_t port)
{
    using PortRoute = const char *(*)(short);
    // Looked up each time: before the first access no library is bound yet.
    const auto route = reinterpret_cast<PortRoute>(
        runtime::optionalEntryPoint(portio::declared::inp32Record, "PortRoute"));
    const char *words = route ? route(static_cast<short>(port)) : nullptr;
    return words ? words : "not named by this library";
}

} // namespace cli
