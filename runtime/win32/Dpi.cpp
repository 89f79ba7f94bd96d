// The DPI, message font and frame size for a window. Windows 10 1607 has
// functions that take the DPI; Windows 8.1 has the monitor's DPI in shcore;
// Windows 7 has only the system DPI. Each newer function is looked up, and
// used where it exists.
#include "Win32Runtime.h"

namespace runtime::win32 {
namespace {

template <class Function> Function newer(const wchar_t *dll, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(newerFunction(dll, name)));
}

UINT systemDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

} // namespace

UINT windowDpi(HWND window)
{
    using ForWindow = UINT(WINAPI *)(HWND);
    using ForMonitor = HRESULT(WINAPI *)(HMONITOR, int, UINT *, UINT *);
    if (const auto forWindow = newer<ForWindow>(L"user32.dll", "GetDpiForWindow"))
        return forWindow(window);
    UINT x = 0, y = 0;
    const auto forMonitor = newer<ForMonitor>(L"shcore.dll", "GetDpiForMonitor");
    constexpr int effectiveDpi = 0; // MDT_EFFECTIVE_DPI
    if (forMonitor && forMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), effectiveDpi,
                                 &x, &y) == S_OK)
        return y;
    return systemDpi();
}

LOGFONTW messageFont(UINT dpi)
{
    using ForDpi = BOOL(WINAPI *)(UINT, UINT, PVOID, UINT, UINT);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (const auto forDpi = newer<ForDpi>(L"user32.dll", "SystemParametersInfoForDpi")) {
        forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
        return metrics.lfMessageFont;
    }
    // At the system DPI; scaled where the monitor's differs (8.1).
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(systemDpi()));
    return font;
}

RECT frameFor(const RECT &client, DWORD style, UINT dpi)
{
    using ForDpi = BOOL(WINAPI *)(LPRECT, DWORD, BOOL, DWORD, UINT);
    RECT frame = client;
    if (const auto forDpi = newer<ForDpi>(L"user32.dll", "AdjustWindowRectExForDpi"))
        forDpi(&frame, style, FALSE, 0, dpi);
    else
        AdjustWindowRectEx(&frame, style, FALSE, 0);
    return frame;
}

} // namespace runtime::win32
