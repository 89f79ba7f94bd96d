// A yes-or-no question in a box, on Win32.
#include "Question.h"

#include "Win32Runtime.h"

namespace runtime::toolkit {

bool askYesNo(const std::string &question)
{
    // Titled as the error box is, for every program of the runtime.
    return MessageBoxW(win32::shownForm(), win32::wide(question).c_str(), L"portpanel",
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL) == IDYES;
}

} // namespace runtime::toolkit
