#include "Library.h"

#include "RuntimeError.h"

#include <algorithm>
#include <string>

#ifdef _WIN32
#include "SystemMessage.h"
#include "Version.h"
#include "WideText.h"

#include <algorithm>
#include <cstdio>
#include <vector>
#include <windows.h>

#include <shlobj.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

namespace runtime {
namespace {

#ifdef _WIN32
using Handle = HMODULE;

// The full path of a module, however deep its folder; the program's for null.
std::wstring modulePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD size = 0;
    while ((size = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()))) ==
           path.size())
        path.resize(path.size() * 2); // a folder deeper than MAX_PATH
    path.resize(size);
    return path;
}

std::wstring programFolder()
{
    const std::wstring path = modulePath(nullptr);
    return path.substr(0, path.find_last_of(L'\\'));
}

// This program's file name, "portpanel.exe".
std::wstring exeName()
{
    const std::wstring path = modulePath(nullptr);
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Once elevated (a port DLL's driver often needs that once), folders on PATH
// that the user may write are no longer safe to load from.
bool elevated()
{
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
        CloseHandle(token);
    }
    return elevation.TokenIsElevated != 0;
}

// A folder's full path: "." and ".." resolved, "/" made "\", no trailing "\".
std::wstring fullPath(const std::wstring &folder)
{
    std::wstring full(GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr), L'\0');
    full.resize(
        GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    return full;
}

// Whether entry is folder or inside it, a whole name at a time.
bool within(const std::wstring &entry, const std::wstring &folder)
{
    return !folder.empty() && entry.size() >= folder.size() &&
           CompareStringOrdinal(entry.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL &&
           (entry.size() == folder.size() || entry[folder.size()] == L'\\');
}

// Both Program Files folders: in a 32-bit process the shell names the "(x86)"
// one twice, so the other comes from the registry's 64-bit view.
std::vector<std::wstring> programFiles()
{
    std::vector<std::wstring> folders;
    wchar_t folder[MAX_PATH];
    for (const int known : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86})
        if (SHGetFolderPathW(nullptr, known, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK)
            folders.push_back(fullPath(folder));
    HKEY key = nullptr;
    DWORD size = sizeof folder;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        if (RegGetValueW(key, nullptr, L"ProgramFilesDir", RRF_RT_REG_SZ, nullptr, folder, &size) ==
            ERROR_SUCCESS)
            folders.push_back(fullPath(folder));
        RegCloseKey(key);
    }
    return folders;
}

// Once elevated, PATH's folders that only administrators may write: those
// under Program Files. The Windows folder is searched anyway, and users may
// write in some of its subfolders (Temp, Tasks, spool's).
bool adminOnly(const std::wstring &entry)
{
    static const std::vector<std::wstring> roots = programFiles();
    const std::wstring full = fullPath(entry);
    return std::ranges::any_of(roots,
                               [&full](const std::wstring &root) { return within(full, root); });
}

// The program's folder, the system folders, then PATH's absolute entries;
// once elevated, only those entries that only administrators may write. The
// Windows folder is the system's: on a Remote Desktop host GetWindowsDirectory
// may name the user's own.
std::vector<std::wstring> searchedFolders()
{
    wchar_t folder[MAX_PATH];
    std::vector<std::wstring> folders{programFolder()};
    folders.emplace_back(folder, GetSystemDirectoryW(folder, MAX_PATH));
    folders.emplace_back(folder, GetSystemWindowsDirectoryW(folder, MAX_PATH));
    const bool asAdministrator = elevated();
    std::wstring path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    for (std::size_t start = 0, end = 0; start <= path.size(); start = end + 1) {
        end = std::min(path.find(L';', start), path.size());
        const std::wstring entry = path.substr(start, end - start);
        const bool absolute =
            entry.starts_with(L"\\\\") ||
            (entry.size() > 2 && entry[1] == L':' && (entry[2] == L'\\' || entry[2] == L'/'));
        if (absolute && (!asAdministrator || adminOnly(entry)))
            folders.push_back(entry);
    }
    return folders;
}

// The machine a file was built for, from its headers; 0 when it has no
// "MZ" header, or no "PE\0\0" where that header points: not a Windows DLL.
unsigned machineOf(const std::wstring &file)
{
    const HANDLE dll = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (dll == INVALID_HANDLE_VALUE)
        return 0;
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    DWORD read = 0;
    const bool ok =
        ReadFile(dll, &dos, sizeof dos, &read, nullptr) && read == sizeof dos &&
        dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
        SetFilePointer(dll, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(dll, &signature, sizeof signature, &read, nullptr) && read == sizeof signature &&
        signature == IMAGE_NT_SIGNATURE && ReadFile(dll, &header, sizeof header, &read, nullptr) &&
        read == sizeof header;
    CloseHandle(dll);
    return ok ? header.Machine : 0;
}

// Error 193, in the words for what the file is.
std::string badFormat(const std::wstring &file)
{
    const std::string program = std::to_string(sizeof(void *) * 8);
    const unsigned machine = machineOf(file);
    const bool wide = sizeof(void *) == 8;
    const unsigned own = wide ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    const unsigned other = wide ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
    const std::string fix = ": use a " + program + "-bit inpout32.dll (Windows error 193)";
    const std::string words =
        "cannot load the port library " + utf8(file) + ": it is not a Windows DLL";
    if (machine == other) {
        const std::string dll = std::to_string(96 - sizeof(void *) * 8);
        return "cannot load the port library " + utf8(file) + ": it is a " + dll +
               "-bit inpout32.dll, but this is the " + program + "-bit portpanel.exe: use the " +
               program + "-bit DLL or portpanel-" + PORTPANEL_VERSION + "-win" + dll +
               ".zip (Windows error 193)";
    }
    if (machine == own)
        return words + " that loads (damaged or cut short?)" + fix;
    if (machine) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%04X", machine);
        return words + " for x86 (machine " + hex + ")" + fix;
    }
    return words + fix;
}

// A file that was found but would not load: what the error means for it.
std::string loadFailure(DWORD code, const std::wstring &file)
{
    const std::string words =
        "cannot load the port library " + utf8(file) + " (" + systemMessage(code, file) + ")";
    if (code == ERROR_MOD_NOT_FOUND)
        return words + ": a DLL that it needs is missing; put it beside " + utf8(file) +
               " or install what its instructions name";
    if (code == ERROR_DLL_INIT_FAILED)
        return words + ": its initialisation failed; its driver may need installing, as its "
                       "instructions say (often by running it once as administrator)";
    return words;
}

// The DLL's own dependencies come from its folder and System32 only. Windows
// 7 without KB2533623 lacks the flags for that (no AddDllDirectory): there
// Windows' search without the current directory, PATH included, finds them.
Handle loadFrom(const std::wstring &file)
{
    static const bool searchFlags =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") != nullptr;
    if (searchFlags)
        return LoadLibraryExW(file.c_str(), nullptr,
                              LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
    return LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Never the current directory (nor a relative PATH entry), where anyone who
// can leave a file could plant a DLL; Windows' own search would look there.
// As Windows' own search does, a file that is not a DLL for this program's
// machine (error 193) is passed over, and so is a folder.
Handle openLibrary(const std::string &name, std::string &why)
{
    std::wstring badFile;
    for (const std::wstring &folder : searchedFolders()) {
        const std::wstring file = folder + L'\\' + std::wstring(name.begin(), name.end());
        const DWORD attributes = GetFileAttributesW(file.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (const Handle library = loadFrom(file))
            return library;
        const DWORD code = GetLastError();
        if (code != ERROR_BAD_EXE_FORMAT) {
            why = loadFailure(code, file);
            return nullptr;
        }
        if (badFile.empty())
            badFile = file;
    }
    why = !badFile.empty()
              ? badFormat(badFile)
              : "put " + name + " beside " + utf8(exeName()) +
                    (elevated() ? " (run as administrator, only PATH's folders under Program Files "
                                  "are searched too)"
                                : " or in a folder on PATH") +
                    "\n  cannot load the port library " + name + " (" +
                    systemMessage(ERROR_MOD_NOT_FOUND) + ")";
    return nullptr;
}

// The loaded file's full path, for the words of an error.
std::string loadedFile(Handle library, const std::string &) { return utf8(modulePath(library)); }

std::string lookupFailure() { return systemMessage(GetLastError()); }

Handle loadedLibrary(const std::string &name)
{
    const std::wstring wide(name.begin(), name.end());
    return GetModuleHandleW(wide.c_str());
}

void *findSymbol(Handle library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(library, name));
}

std::string loadedPath(Handle library)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD size = 0;
    while ((size = GetModuleFileNameW(library, path.data(), static_cast<DWORD>(path.size()))) ==
           path.size())
        path.resize(path.size() * 2);
    path.resize(size);
    return utf8(path);
}

void closeLibrary(Handle library) { FreeLibrary(library); }
#else
using Handle = void *;

std::string lookupFailure()
{
    const char *message = dlerror();
    return message ? message : "unknown loader error";
}

Handle openLibrary(const std::string &name, std::string &why)
{
    const Handle library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        why = "cannot load the port library " + name + " (" + lookupFailure() +
              "); install portpanel's port library, or put its folder on LD_LIBRARY_PATH";
    return library;
}

Handle loadedLibrary(const std::string &name)
{
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

std::string loadedFile(Handle, const std::string &name) { return name; }

void *findSymbol(Handle library, const char *name)
{
    dlerror();
    return dlsym(library, name);
}

std::string loadedPath(Handle library)
{
    const link_map *map = nullptr;
    return dlinfo(library, RTLD_DI_LINKMAP, static_cast<void *>(&map)) == 0 && map ? map->l_name
                                                                                   : "";
}

void closeLibrary(Handle library) { dlclose(library); }
#endif

void checkReady(Handle library, const std::string &name)
{
    using Readiness = const char *(*)();
    const auto ask = reinterpret_cast<Readiness>(findSymbol(library, readinessEntryPoint));
    const char *problem = ask ? ask() : nullptr;
    if (!problem)
        return;
    // The library's first line is what to do; which library refused goes below it.
    const std::string words = problem;
    const std::size_t end = std::min(words.find('\n'), words.size());
    throw RuntimeError(ErrorNumber::LibraryNotReady, words.substr(0, end) + "\n  " + name +
                                                         " cannot work here" + words.substr(end));
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
    std::string why;
    const Handle library = openLibrary(name, why);
    if (!library)
        throw RuntimeError(ErrorNumber::LibraryNotLoaded, why);
    checkReady(library, loadedFile(library, name));
    void *function = findSymbol(library, entry.name);
    if (!function) {
        const std::string lookup = lookupFailure();
        throw RuntimeError(ErrorNumber::EntryPointMissing,
                           "the port library " + loadedFile(library, name) +
                               " has no entry point " + entry.name + " (" + lookup +
                               "); it is not a port library this program can use");
    }
    entry.bound = function;
    return function;
}

void *optionalEntryPoint(const EntryPoint &entry, const char *name)
{
    const Handle library = entry.bound ? loadedLibrary(loaderName(entry.library)) : nullptr;
    return library ? findSymbol(library, name) : nullptr;
}

LibraryLocation locate(const char *library)
{
    LibraryLocation where;
    if (const Handle found = openLibrary(loaderName(library), where.why)) {
        where.path = loadedPath(found);
        where.bits = static_cast<int>(sizeof(void *) * 8); // only its own size loads
        closeLibrary(found);
    }
    return where;
}

} // namespace runtime
