// Linked into portpanel_win7.exe in place of the real lookup: every function
// newer than Windows 7 is "not found", so the window takes Windows 7's path.
#include "Win32Runtime.h"

namespace runtime::win32 {

FARPROC newerFunction(const wchar_t *, const char *) { return nullptr; }

} // namespace runtime::win32
