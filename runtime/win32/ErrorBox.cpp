// The error path's box and the end of the message loop, on Win32.
#include "ErrorPath.h"
#include "Win32Runtime.h"

namespace runtime::toolkit {

// The box stays until the user closes it: a WM_QUIT waiting in the queue (a
// window destroyed on the way here) would end its message loop at once, so it
// is taken out while the box shows, and the box shows again if one ended it.
void showErrorBox(const std::string &line)
{
    MSG quit{};
    MSG waiting{};
    bool quitting = false;
    do {
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            quitting = true;
        // Owned by the window where there is one, and in front either way.
        MessageBoxW(win32::shownForm(), win32::wide(line).c_str(), L"portpanel",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    } while (PeekMessageW(&waiting, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    if (quitting)
        PostQuitMessage(static_cast<int>(quit.wParam));
}

void endEventLoop(int status) { PostQuitMessage(status); }

} // namespace runtime::toolkit
