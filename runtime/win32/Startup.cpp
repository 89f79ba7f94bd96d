// Start-up on Win32: the common controls, the form and its load event, then
// the message loop, which also moves the focus with Tab as a dialog does.
#include "Startup.h"
#include "CommandLine.h"
#include "ErrorPath.h"
#include "EventDelivery.h"
#include "Win32Runtime.h"

#include <commctrl.h>

namespace runtime::toolkit {

std::optional<int> beforeToolkit(int argc, char **argv)
{
    try {
        return handleArguments(argc, argv);
    } catch (const RuntimeError &error) {
        reportAndEnd(error);
        return error.number();
    }
}

int run(const char *, const std::function<std::unique_ptr<Form>()> &build)
{
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    beginRun();
    std::unique_ptr<Form> form;
    deliver([&form, &build] { form = build(); });
    if (form)
        deliver([&form] { form->Form_Load(); });
    if (const RuntimeError *error = endingError())
        return error->number();
    const HWND window = win32::handle(*form);
    ShowWindow(window, SW_SHOWDEFAULT);
    SetFocus(GetNextDlgTabItem(window, nullptr, FALSE));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const RuntimeError *error = endingError();
    return error ? error->number() : static_cast<int>(message.wParam);
}

} // namespace runtime::toolkit
