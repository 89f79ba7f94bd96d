// Start-up on Win32: the common controls, the form and its load event, then
// the message loop, which also moves the focus with Tab as a dialog does.
#include "Startup.h"
#include "CommandLine.h"
#include "ErrorPath.h"
#include "EventDelivery.h"
#include "Win32Runtime.h"

#include <algorithm>
#include <commctrl.h>
#include <shellapi.h>
#include <string>
#include <vector>

namespace runtime::toolkit {

namespace {

// The arguments as typed, in UTF-8: the C runtime's come in the ANSI code
// page, which cannot hold every name.
std::vector<std::string> wideArguments()
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide && i < count; ++i)
        arguments.push_back(utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

} // namespace

std::optional<int> beforeToolkit(int argc, char **argv)
{
    std::vector<std::string> arguments = wideArguments();
    std::vector<char *> pointers(arguments.size() + 1, nullptr);
    // cppcheck-suppress constParameterReference ; data() must give a char * here
    const auto pointer = [](std::string &argument) { return argument.data(); };
    std::ranges::transform(arguments, pointers.begin(), pointer);
    if (!arguments.empty())
        argc = static_cast<int>(arguments.size()), argv = pointers.data();
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
        if (win32::handleKey(message) || IsDialogMessageW(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const RuntimeError *error = endingError();
    return error ? error->number() : static_cast<int>(message.wParam);
}

} // namespace runtime::toolkit
