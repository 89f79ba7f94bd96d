// The error path's box and the end of the message loop, on Win32.
#include "ErrorPath.h"
#include "Win32Runtime.h"

namespace runtime::toolkit {

void showErrorBox(const std::string &line)
{
    // Owned by the window where there is one, and in front either way.
    MessageBoxW(win32::shownForm(), win32::wide(line).c_str(), L"portpanel",
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

void endEventLoop(int status) { PostQuitMessage(status); }

} // namespace runtime::toolkit
