"""Every function that portpanel.exe imports exists on Windows 7 SP1: its own
import table (the code mingw-w64 links in statically included) against the
list below, each function filed under the "Minimum supported client" that
Microsoft's documentation gives it. Each exe is also Terminal-Server-aware
(the PE header's flag). Usage: imports.py OBJDUMP EXE..."""
import re
import subprocess
import sys

ON_WINDOWS_7_SP1 = {
    "KERNEL32.DLL": {
        "Windows 2000": """CloseHandle CreateFileW GetCommandLineW GlobalSize lstrcmpiW ReadFile
            GetSystemWindowsDirectoryW GetFullPathNameW
            SetFilePointer CreateEventA CreateSemaphoreA DeleteCriticalSection
            DuplicateHandle EnterCriticalSection FormatMessageA FormatMessageW FreeLibrary
            GetCurrentProcess
            GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetEnvironmentVariableW
            GetFileAttributesW GetHandleInformation GetLastError GetModuleFileNameW
            GetModuleHandleA GetModuleHandleW GetProcAddress GetProcessAffinityMask
            GetStartupInfoA GetSystemDirectoryW GetSystemTimeAsFileTime GetThreadContext
            GetThreadPriority GetTickCount GetWindowsDirectoryW GlobalLock GlobalUnlock
            InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection
            LoadLibraryA LoadLibraryExW LoadLibraryW LocalFree MulDiv MultiByteToWideChar
            OpenProcess OutputDebugStringA QueryPerformanceCounter QueryPerformanceFrequency
            RaiseException ReleaseSemaphore ResetEvent
            ResumeThread SetEvent SetLastError SetProcessAffinityMask SetThreadContext
            SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread TlsAlloc TlsGetValue
            TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery
            WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte
            CreateEventW ExitProcess MoveFileExW SetConsoleCtrlHandler FileTimeToSystemTime GetProcessTimes
            GetSystemTimeAdjustment GetThreadTimes SetSystemTime GetFileType GetStartupInfoW
            GetStdHandle CreateWaitableTimerW SetWaitableTimer CreateFileW WriteFile GetConsoleMode
            WriteConsoleW
            GetFileInformationByHandle""",
        "Windows XP": """AddVectoredExceptionHandler RemoveVectoredExceptionHandler
            RtlCaptureContext SetDllDirectoryW GetModuleHandleExW""",
        "Windows XP Professional x64 Edition": """RtlLookupFunctionEntry RtlUnwindEx
            RtlVirtualUnwind __C_specific_handler""",
        "Windows Vista": "GetTickCount64 CompareStringOrdinal",
    },
    "USER32.DLL": {
        "Windows 2000": """AdjustWindowRectEx CloseClipboard CreateWindowExW DefWindowProcW
            BeginPaint DrawTextW EndPaint FillRect GetClientRect GetCursorPos GetSysColorBrush
            InvalidateRect ScreenToClient ClientToScreen SetCursor
            DestroyWindow DispatchMessageW GetActiveWindow GetClipboardData GetDC GetMessageW
            GetFocus IsChild IsWindow MessageBeep NotifyWinEvent GetNextDlgTabItem GetWindowLongPtrW GetWindowLongW GetWindowTextLengthW
            GetWindowTextW IsDialogMessageW LoadCursorW LoadIconW MessageBoxW MonitorFromWindow
            OpenClipboard PeekMessageW PostQuitMessage RegisterClassExW ReleaseDC SendMessageW SetFocus
            SetWindowLongPtrW SetWindowLongW SetWindowPos SetWindowTextW ShowWindow
            SystemParametersInfoW TranslateMessage GetClassNameW IsIconic IsWindowVisible
            KillTimer SetTimer""",
    },
    "GDI32.DLL": {"Windows 2000": """CreateFontIndirectW DeleteObject GetDeviceCaps BitBlt
            CreateCompatibleBitmap CreateCompatibleDC CreatePen CreateSolidBrush DeleteDC Ellipse
            Polygon Rectangle SelectObject SetBkMode SetTextColor"""},
    # TokenElevation, which the program asks for, is Vista's.
    "ADVAPI32.DLL": {"Windows 2000": """GetTokenInformation OpenProcessToken RegOpenKeyExW
            RegCloseKey RegQueryValueExW""",
                     "Windows Vista": "RegGetValueW"},
    # The port finder's: the Ports device class and each device's I/O ranges.
    "SETUPAPI.DLL": {"Windows 2000": """SetupDiDestroyDeviceInfoList SetupDiEnumDeviceInfo
            SetupDiGetClassDevsW SetupDiGetDeviceInstanceIdW SetupDiGetDeviceRegistryPropertyW
            SetupDiOpenDevRegKey"""},
    "CFGMGR32.DLL": {"Windows 2000": """CM_Free_Log_Conf_Handle CM_Free_Res_Des_Handle
            CM_Get_DevNode_Status CM_Get_First_Log_Conf CM_Get_Next_Res_Des CM_Get_Res_Des_Data
            CM_Get_Res_Des_Data_Size"""},
    "NTDLL.DLL": {"Windows 2000": "NtQueryInformationFile"},
    "SHELL32.DLL": {"Windows 2000": "CommandLineToArgvW SHGetFolderPathW"},
    "OLE32.DLL": {"Windows 2000": "CoCreateInstance CoInitializeEx"},
    # The drawn socket's own accessible object.
    "OLEACC.DLL": {"Windows 2000": "CreateStdAccessibleObject LresultFromObject"},
    "OLEAUT32.DLL": {"Windows 2000": "SysAllocString"},
    "COMCTL32.DLL": {
        "Windows 2000": "InitCommonControlsEx",
        "Windows XP": "DefSubclassProc SetWindowSubclass RemoveWindowSubclass",
    },
    # The system's C runtime; Windows 7's copy exports all of these.
    "MSVCRT.DLL": {
        "Windows 2000": """___lc_codepage_func ___mb_cur_max_func __getmainargs __initenv
            __iob_func __mb_cur_max __p__acmdln __p__commode __p__fmode __set_app_type
            __setusermatherr _acmdln _amsg_exit _beginthreadex _cexit _close _commode
            _endthreadex _errno _fmode __wgetmainargs __winitenv _wcmdln __p__wcmdln _wfopen
            _wopen _write _commit _get_osfhandle _wremove fclose _initterm _iob _lock _onexit _read _setjmp _setjmp3
            _strdup _ultoa _unlock _vscprintf _vsnprintf abort atoi calloc clearerr exit fflush fprintf
            fputc fputs free fwrite getenv localeconv longjmp malloc memchr memcmp memcpy
            memmove memset printf puts realloc setlocale signal strchr strcmp strerror strlen
            strncmp strtoul vfprintf wcslen
            _fdopen _fileno _lseeki64 fopen iswctype setvbuf strcoll strftime strxfrm towlower
            towupper wcscoll wcsftime wcsxfrm""",
        "Windows XP": "_fstat64",
    },
}
allowed = {(dll, name) for dll, clients in ON_WINDOWS_7_SP1.items()
           for names in clients.values() for name in names.split()}


def imports(dump):
    dll = None
    for line in dump.splitlines():
        if m := re.match(r"\s*DLL Name: (\S+)", line):
            dll = m.group(1).upper()
            continue
        # "vma hint name" (binutils 2.40) or "vma ordinal hint name" (2.44)
        words = line.split()
        if dll and len(words) in (3, 4) and re.fullmatch(r"[0-9a-f]+", words[0]) and \
                re.fullmatch(r"[A-Za-z_]\w*", words[-1]) and \
                not re.fullmatch(r"[0-9a-f]+", words[-1]):
            yield dll, words[-1]


failed = False
TERMINAL_SERVER_AWARE = 0x8000
for exe in sys.argv[2:]:
    dump = subprocess.run([sys.argv[1], "-p", exe], capture_output=True, text=True,
                          check=True).stdout
    flags = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dump, re.M)
    aware = bool(flags and int(flags.group(1), 16) & TERMINAL_SERVER_AWARE)
    print(f"{exe}: DllCharacteristics {flags and flags.group(1)}, "
          f"{'' if aware else 'not '}Terminal-Server-aware")
    failed = failed or not aware
    found = set(imports(dump))
    missing = sorted(found - allowed)
    for dll, name in missing:
        print(f"{exe}: imports {dll}!{name}, which Windows 7 SP1 does not have")
    failed = failed or bool(missing) or not found
    print(f"{exe}: {len(found)} imports, {'all' if not missing else 'not all'} on Windows 7 SP1")
sys.exit(1 if failed else 0)
