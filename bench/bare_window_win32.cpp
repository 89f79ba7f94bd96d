// The floor for start-up on Windows: a bare Win32 window with the same four
// controls, icon, manifest and system UI font as portpanel.exe, and nothing
// else, shown with its label already set.
#include <windows.h>

namespace {

LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HFONT uiFont()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

HWND child(HWND parent, const wchar_t *type, const wchar_t *text, DWORD style, RECT r)
{
    static const HFONT font = uiFont();
    HWND control =
        CreateWindowExW(0, type, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right,
                        r.bottom, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

} // namespace

int main()
{
    WNDCLASSW type{};
    type.lpfnWndProc = proc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hIcon = LoadIconW(type.hInstance, MAKEINTRESOURCEW(1));
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = L"Bare";
    RegisterClassW(&type);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, 402, 155};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowExW(0, L"Bare", L"Bare", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, type.hInstance, nullptr);
    child(window, L"EDIT", L"888", WS_TABSTOP, {16, 64, 81, 25});
    child(window, L"BUTTON", L"Commit", WS_TABSTOP, {128, 104, 81, 25});
    child(window, L"EDIT", L"000", WS_TABSTOP, {112, 64, 97, 25});
    child(window, L"STATIC", L"Port = 888 Value = 0", 0, {16, 24, 193, 17});
    ShowWindow(window, SW_SHOWDEFAULT);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
