// Runs a program on a console of its own and presses Ctrl+C there once FILE
// holds TEXT (the program's effect that Ctrl+C should interrupt), as a person
// at the console would; prints the program's exit code.
// Usage: ctrl_c FILE TEXT PROGRAM [ARGUMENT...]
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

std::string contents(const wchar_t *file)
{
    std::string text;
    if (FILE *in = _wfopen(file, L"rb")) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
            text.append(chunk, got);
        std::fclose(in);
    }
    return text;
}

// Whether file comes to hold text within 60 s, which only a hang takes.
bool holdsSoon(const wchar_t *file, const wchar_t *text)
{
    char wanted[256] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, wanted, sizeof wanted, nullptr, nullptr);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60'000; Sleep(10))
        if (contents(file).find(wanted) != std::string::npos)
            return true;
    return false;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 4)
        return 2;
    std::wstring command;
    for (int i = 3; i < argc; ++i)
        command += std::wstring(L"\"") + argv[i] + L"\" ";
    // A console of our own, which the program shares: Ctrl+C goes to both.
    FreeConsole();
    AllocConsole();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return std::printf("cannot start the program: error %lu\n", GetLastError()), 1;
    // Only now: a program started while we ignore Ctrl+C would ignore it too.
    SetConsoleCtrlHandler(nullptr, TRUE);
    if (!holdsSoon(argv[1], argv[2]))
        return std::printf("the program never wrote what Ctrl+C should interrupt\n"), 1;
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        return std::printf("cannot press Ctrl+C: error %lu\n", GetLastError()), 1;
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, 60'000);
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit 0x%lX\n", code);
    return 0;
}
