// Runs a program on a console of its own and presses Ctrl+C there after the
// given time, as a person at the console would; prints the program's exit
// code. Usage: ctrl_c MILLISECONDS PROGRAM [ARGUMENT...]
#include <cstdio>
#include <cwchar>
#include <string>
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3)
        return 2;
    std::wstring command;
    for (int i = 2; i < argc; ++i)
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
    Sleep(static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)));
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        return std::printf("cannot press Ctrl+C: error %lu\n", GetLastError()), 1;
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, 10000);
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("exit 0x%lX\n", code);
    return 0;
}
