// Runs its command line as an administrator would, elevated (the manifest
// asks for it), and returns that program's exit status. Older wine elevates
// every process; newer wine, like Windows, starts them with a limited token.
#include <windows.h>

int main()
{
    // The command line after this program's own name, as Windows quotes it.
    wchar_t *rest = GetCommandLineW();
    for (bool quoted = false; *rest && (quoted || (*rest != L' ' && *rest != L'\t')); ++rest)
        quoted ^= *rest == L'"';
    while (*rest == L' ' || *rest == L'\t')
        ++rest;
    // The program ends with this one, also when this one is killed.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, rest, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started))
        return 125;
    AssignProcessToJobObject(job, started.hProcess);
    ResumeThread(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 125;
    GetExitCodeProcess(started.hProcess, &status);
    return static_cast<int>(status);
}
