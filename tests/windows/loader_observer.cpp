// Records the binder's library loads and entry point lookups, as the Linux
// audit module does, by pointing this executable's imports of LoadLibraryExW and
// GetProcAddress at counting wrappers before any test runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <windows.h>

namespace {

decltype(&LoadLibraryExW) realLoadLibraryExW = nullptr;
decltype(&GetProcAddress) realGetProcAddress = nullptr;

void record(const char *what, const char *name)
{
    const char *path = std::getenv("PORTPANEL_RECORD");
    if (FILE *file = path ? std::fopen(path, "a") : nullptr) {
        std::fprintf(file, "%s %s\n", what, name);
        std::fclose(file);
    }
}

// Like the audit module: a load is recorded when the module really loads.
// The binder loads the DLL by its full path, found in a folder it searched.
HMODULE WINAPI countingLoadLibraryExW(LPCWSTR path, HANDLE file, DWORD flags)
{
    const wchar_t *name = std::wcsrchr(path, L'\\') ? std::wcsrchr(path, L'\\') + 1 : path;
    const bool alreadyLoaded = GetModuleHandleW(name) != nullptr;
    HMODULE module = realLoadLibraryExW(path, file, flags);
    if (module && !alreadyLoaded && _wcsicmp(name, L"inpout32.dll") == 0)
        record("load", "inpout32.dll");
    return module;
}

// Lookups in inpout32.dll only: the binder asks kernel32 for newer functions too.
FARPROC WINAPI countingGetProcAddress(HMODULE module, LPCSTR name)
{
    FARPROC function = realGetProcAddress(module, name);
    if (function && HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 &&
        module == GetModuleHandleW(L"inpout32.dll"))
        record("lookup", name);
    return function;
}

// Replaces one import of this executable; returns what it pointed at.
template <class Function> Function patchImport(const char *dll, const char *name, Function wrapper)
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleW(nullptr));
    const auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const auto &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
    for (; entry->Name; ++entry) {
        if (_stricmp(reinterpret_cast<char *>(base + entry->Name), dll) != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto *byName =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), name) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            const auto original = reinterpret_cast<Function>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(wrapper);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return original;
        }
    }
    std::fprintf(stderr, "loader_observer: %s!%s is not imported\n", dll, name);
    std::abort();
}

const bool observing = [] {
    realLoadLibraryExW = patchImport("kernel32.dll", "LoadLibraryExW", &countingLoadLibraryExW);
    realGetProcAddress = patchImport("kernel32.dll", "GetProcAddress", &countingGetProcAddress);
    return true;
}();

} // namespace
