// On its own so that a test build can link its own and take the older path.
#include "Win32Runtime.h"

namespace runtime::win32 {

FARPROC newerFunction(const wchar_t *dll, const char *name)
{
    HMODULE module = GetModuleHandleW(dll);
    if (!module)
        module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? GetProcAddress(module, name) : nullptr;
}

} // namespace runtime::win32
