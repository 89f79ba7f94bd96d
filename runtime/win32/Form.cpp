// Forms and controls on Win32, built from the form's layout and scaled with
// the monitor's DPI (the layout's logical pixels are at 96 dpi).
#include "EventDelivery.h"
#include "RuntimeError.h"
#include "Win32Runtime.h"

#include <commctrl.h>
#include <type_traits>

namespace runtime {
namespace {

constexpr wchar_t formClass[] = L"portpanelForm";
constexpr int firstId = 100; // clear of IDOK and IDCANCEL, which Enter and Escape send
constexpr DWORD formStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
HWND startupWindow = nullptr; // the one form's, while it exists
// WM_GETDPISCALEDSIZE, sent from Windows 10 1703 on; its header needs a newer WINVER.
constexpr UINT getDpiScaledSize = 0x02E4;
constexpr UINT_PTR focusSubclassId = 2; // the value field's own subclass is 1

struct Handled {
    virtual ~Handled() = default;
    [[nodiscard]] virtual HWND handle() const = 0;
};

template <class Base> class Win32Control : public Base, public Handled {
  public:
    Win32Control(const char *name, HWND handle) : Base(name), handle_(handle) {}
    [[nodiscard]] HWND handle() const override { return handle_; }
    [[nodiscard]] std::string text() const override { return win32::windowText(handle_); }
    bool setText(const std::string &text) override
    {
        const bool set = SetWindowTextW(handle_, win32::wide(text).c_str()) != FALSE;
        if constexpr (std::is_same_v<Base, Label>)
            if (set)
                win32::announceChange(handle_);
        return set;
    }

  protected:
    HWND handle_;
};

class Win32CommandButton : public Win32Control<CommandButton> {
  public:
    using Win32Control::Win32Control;
    void onClick(std::function<void()> handler) override { handler_ = std::move(handler); }
    void click() const
    {
        if (handler_)
            deliver(handler_);
    }

  private:
    std::function<void()> handler_;
};

struct Kinds {
    const wchar_t *windowClass;
    DWORD style;
    DWORD exStyle;
};

Kinds kindOf(Kind kind)
{
    switch (kind) {
    case Kind::TextBox:
    case Kind::MaskEdBox:
        return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case Kind::Label: // one line: with a larger text a wrapped second line would not show
        return {L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};
    case Kind::CommandButton:
        return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
    }
    return {L"STATIC", 0, 0};
}

std::unique_ptr<Control> wrap(const ControlLayout &layout, HWND handle)
{
    switch (layout.kind) {
    case Kind::TextBox:
        return std::make_unique<Win32Control<TextBox>>(layout.name, handle);
    case Kind::MaskEdBox:
        win32::makeMaskEdBox(handle);
        return std::make_unique<Win32Control<MaskEdBox>>(layout.name, handle);
    case Kind::Label:
        return std::make_unique<Win32Control<Label>>(layout.name, handle);
    case Kind::CommandButton:
        return std::make_unique<Win32CommandButton>(layout.name, handle);
    }
    return nullptr;
}

int scaled(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void registerClass()
{
    static const ATOM registered = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = formProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hIcon = LoadIconW(type.hInstance, MAKEINTRESOURCEW(1));
        type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        type.lpszClassName = formClass;
        return RegisterClassExW(&type);
    }();
    (void)registered;
}

} // namespace

struct Form::Window {
    HWND handle = nullptr;
    HFONT font = nullptr;
    HWND lastFocus = nullptr;
    FormLayout layout;

    ~Window()
    {
        if (handle) {
            startupWindow = nullptr;
            SetWindowLongPtrW(handle, GWLP_USERDATA, 0); // the form's controls are gone
            DestroyWindow(handle);
        }
        if (font)
            DeleteObject(font);
    }

    // The window's outer size for the form's client area at dpi.
    [[nodiscard]] SIZE size(UINT dpi) const
    {
        const RECT frame = win32::frameFor(
            {0, 0, scaled(layout.width, dpi), scaled(layout.height, dpi)}, formStyle, dpi);
        return {frame.right - frame.left, frame.bottom - frame.top};
    }

    // Sizes the window and places its controls for dpi.
    void place(UINT dpi, const std::vector<std::unique_ptr<Control>> &controls)
    {
        const SIZE outer = size(dpi);
        SetWindowPos(handle, nullptr, 0, 0, outer.cx, outer.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        placeControls(dpi, controls);
    }

    // Places the controls and gives them the system's message font for dpi;
    // the old font goes only once no control uses it.
    void placeControls(UINT dpi, const std::vector<std::unique_ptr<Control>> &controls)
    {
        const HFONT old = font;
        const LOGFONTW message = win32::messageFont(dpi);
        font = CreateFontIndirectW(&message);
        for (std::size_t i = 0; i < controls.size(); ++i) {
            const Twips &at = layout.controls[i].place;
            HWND control = win32::handle(controls[i].get());
            SetWindowPos(control, nullptr, scaled(at.left, dpi), scaled(at.top, dpi),
                         scaled(at.width, dpi), scaled(at.height, dpi),
                         SWP_NOZORDER | SWP_NOACTIVATE);
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
        if (old)
            DeleteObject(old);
    }

    // A dialog's manners: the control that last had the focus gets it back
    // when the window has it again. Each control reports its focus as it gets
    // it: a minimised window need not be deactivated first.
    static LRESULT CALLBACK trackFocus(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR window)
    {
        if (message == WM_SETFOCUS)
            reinterpret_cast<Window *>(window)->lastFocus = control;
        if (message == WM_NCDESTROY)
            RemoveWindowSubclass(control, trackFocus, focusSubclassId);
        return DefSubclassProc(control, message, wParam, lParam);
    }
    void restoreFocus() const
    {
        SetFocus(lastFocus && IsChild(handle, lastFocus)
                     ? lastFocus
                     : GetNextDlgTabItem(handle, nullptr, FALSE));
    }
};

namespace {

void command(const Form &form, int id)
{
    const auto index = static_cast<std::size_t>(id - firstId);
    if (index < form.controls().size())
        if (const auto *button =
                dynamic_cast<const Win32CommandButton *>(form.controls()[index].get()))
            button->click();
}

template <class Function> Function user32(const char *name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void *>(win32::newerFunction(L"user32.dll", name)));
}

// Windows 10 1607 knows only per-monitor awareness v1 (the manifest's
// fallback), which scales the caption and frame only when asked to; v2 does
// it by itself.
void scaleNonClientArea(HWND window)
{
    const auto perMonitorV1 =
        reinterpret_cast<HANDLE>(-3); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
    const auto context = user32<HANDLE(WINAPI *)()>("GetThreadDpiAwarenessContext");
    const auto same = user32<BOOL(WINAPI *)(HANDLE, HANDLE)>("AreDpiAwarenessContextsEqual");
    const auto enable = user32<BOOL(WINAPI *)(HWND)>("EnableNonClientDpiScaling");
    if (context && same && enable && same(context(), perMonitorV1))
        enable(window);
}

// The window's size at a new DPI is the form's, not a scaled rounding of it.
LRESULT dpiChange(const Form &form, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const UINT dpi = LOWORD(wParam);
    if (message == getDpiScaledSize) {
        *reinterpret_cast<SIZE *>(lParam) = form.window().size(dpi);
        return TRUE;
    }
    // Where Windows suggests, at the form's size: Windows 8.1's suggestion
    // scales a frame that per-monitor v1 leaves unscaled.
    const auto *suggested = reinterpret_cast<const RECT *>(lParam);
    const SIZE outer = form.window().size(dpi);
    SetWindowPos(window, nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    form.window().placeControls(dpi, form.controls());
    return 0;
}

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto *form = reinterpret_cast<const Form *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        scaleNonClientArea(window);
        break;
    case WM_COMMAND:
        if (form && HIWORD(wParam) == BN_CLICKED)
            command(*form, LOWORD(wParam));
        return 0;
    case WM_SETFOCUS: // on activation the window gets the focus, and passes it on
        if (form)
            form->window().restoreFocus();
        return 0;
    case getDpiScaledSize:
    case WM_DPICHANGED:
        return form ? dpiChange(*form, window, message, wParam, lParam) : FALSE;
    case WM_SETTINGCHANGE: // a larger text or another message font
        if (form && wParam == SPI_SETNONCLIENTMETRICS)
            form->window().placeControls(win32::windowDpi(window), form->controls());
        return 0;
    case WM_DESTROY: // closed by the user; not when ~Window ends a form that failed
        if (form)
            PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

Form::Form(const FormLayout &layout) : window_(std::make_unique<Window>())
{
    registerClass();
    Window &w = *window_;
    w.layout = layout;
    w.handle = CreateWindowExW(0, formClass, win32::wide(layout.caption).c_str(), formStyle,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!w.handle)
        throw RuntimeError(ErrorNumber::ControlFailed, "the window " + std::string(layout.name) +
                                                           " cannot be created (Windows error " +
                                                           std::to_string(GetLastError()) + ")");
    SetWindowLongPtrW(w.handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    startupWindow = w.handle;
    int id = firstId;
    for (const ControlLayout &item : layout.controls) { // creation order is tab order
        const Kinds kinds = kindOf(item.kind);
        HWND created =
            CreateWindowExW(kinds.exStyle, kinds.windowClass, win32::wide(item.text).c_str(),
                            WS_CHILD | WS_VISIBLE | kinds.style, 0, 0, 0, 0, w.handle,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                            GetModuleHandleW(nullptr), nullptr);
        if (!created)
            throw RuntimeError(ErrorNumber::ControlFailed,
                               "the control " + std::string(item.name) + " cannot be created");
        SetWindowSubclass(created, Window::trackFocus, focusSubclassId,
                          reinterpret_cast<DWORD_PTR>(&w));
        if (item.accessibleName)
            win32::setAccessibleName(created, item.accessibleName);
        if (item.kind == Kind::Label) // the status line, which Commit changes
            win32::makeLiveRegion(created);
        controls_.push_back(wrap(item, created));
    }
    w.place(win32::windowDpi(w.handle), controls_);
}

Form::~Form() = default;

namespace win32 {

HWND handle(const Form &form) { return form.window().handle; }

HWND shownForm() { return startupWindow; }

HWND handle(const Control *control)
{
    const auto *handled = dynamic_cast<const Handled *>(control);
    return handled ? handled->handle() : nullptr;
}

} // namespace win32
} // namespace runtime
