// Runs a program as a Windows user meets it and prints its exit code:
// - on a console of its own, pressing Ctrl+C there once FILE holds TEXT (the
//   program's effect that Ctrl+C should interrupt), as a person would;
// - --hold FILE: while FILE is open in another program that shares it with no one;
// - --pipe: its output into a Windows pipe whose reader takes the first line,
//   prints it, and leaves, as `| head -1` does.
// Usage: ctrl_c FILE TEXT PROGRAM [ARGUMENT...]
//        ctrl_c --hold FILE PROGRAM [ARGUMENT...]
//        ctrl_c --pipe PROGRAM [ARGUMENT...]
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

std::wstring commandLine(int argc, wchar_t **argv, int first)
{
    std::wstring command;
    for (int i = first; i < argc; ++i)
        command += std::wstring(L"\"") + argv[i] + L"\" ";
    return command;
}

int printExit(HANDLE process)
{
    if (WaitForSingleObject(process, 60'000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        return std::printf("still running 60 s later\n"), 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    std::printf("exit 0x%lX\n", code);
    return 0;
}

// The program with its output to output and its messages where ours go; null
// when it cannot start.
HANDLE started(std::wstring command, HANDLE output)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process))
        return process.hProcess;
    std::printf("cannot start the program: error %lu\n", GetLastError());
    return nullptr;
}

int whileHeld(const wchar_t *file, const std::wstring &command)
{
    const HANDLE held = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return std::printf("cannot hold the file: error %lu\n", GetLastError()), 1;
    const HANDLE process = started(command, GetStdHandle(STD_OUTPUT_HANDLE));
    return process ? printExit(process) : 1;
}

int firstLineOf(const std::wstring &command)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    CreatePipe(&reader, &writer, &inherited, 0);
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    const HANDLE process = started(command, writer);
    CloseHandle(writer);
    if (!process)
        return 1;
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(reader, &c, 1, &got, nullptr) && got == 1 && c != '\n')
        line += c;
    std::printf("%s\n", line.c_str());
    CloseHandle(reader);
    return printExit(process);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc >= 3 && std::wstring(argv[1]) == L"--pipe")
        return firstLineOf(commandLine(argc, argv, 2));
    if (argc >= 4 && std::wstring(argv[1]) == L"--hold")
        return whileHeld(argv[2], commandLine(argc, argv, 3));
    if (argc < 4)
        return 2;
    std::wstring command = commandLine(argc, argv, 3);
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
    return printExit(process.hProcess);
}
