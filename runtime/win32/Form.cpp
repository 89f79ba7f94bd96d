// Forms and controls on Win32, built from the form's layout and scaled with
// the monitor's DPI (the layout's logical pixels are at 96 dpi).
#include "EventDelivery.h"
#include "RuntimeError.h"
#include "Win32Runtime.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdlib>
#include <type_traits>
#include <utility>
#include <vector>

namespace runtime {
namespace {

constexpr wchar_t formClass[] = L"portpanelForm";
constexpr int firstId = 100; // clear of IDOK and IDCANCEL, which Enter and Escape send
constexpr DWORD formStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
HWND startupWindow = nullptr; // the one form's, while it exists
// WM_GETDPISCALEDSIZE, sent from Windows 10 1703 on; its header needs a newer WINVER.
constexpr UINT getDpiScaledSize = 0x02E4;
constexpr UINT_PTR focusSubclassId = 2; // the value field's own subclass is 1

using win32::Handled;

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

// A control whose BN_CLICKED runs a handler: a button or a check box.
struct Clickable {
    virtual ~Clickable() = default;
    virtual void click() const = 0;
};

template <class Base> class Win32Clickable : public Win32Control<Base>, public Clickable {
  public:
    using Win32Control<Base>::Win32Control;
    void onClick(std::function<void()> handler) override { handler_ = std::move(handler); }
    void click() const override
    {
        if (handler_)
            deliver(handler_);
    }

  private:
    std::function<void()> handler_;
};

using Win32CommandButton = Win32Clickable<CommandButton>;

class Win32CheckBox : public Win32Clickable<CheckBox> {
  public:
    using Win32Clickable::Win32Clickable;
    [[nodiscard]] bool checked() const override
    {
        return SendMessageW(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void setChecked(bool checked) override
    {
        SendMessageW(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void setAccessibleName(const std::string &name) override
    {
        win32::setAccessibleName(handle_, name);
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, handle_, OBJID_CLIENT, CHILDID_SELF);
    }
};

class Win32ListBox : public Win32Control<ListBox> {
  public:
    using Win32Control::Win32Control;
    [[nodiscard]] std::string text() const override
    {
        return line(static_cast<int>(SendMessageW(handle_, LB_GETCURSEL, 0, 0)));
    }
    bool setText(const std::string &) override { return false; } // lines come by insertFirst
    void insertFirst(const std::string &line) override
    {
        SendMessageW(handle_, LB_INSERTSTRING, 0,
                     reinterpret_cast<LPARAM>(win32::wide(line).c_str()));
    }
    void removeLast() override { SendMessageW(handle_, LB_DELETESTRING, count() - 1, 0); }
    [[nodiscard]] int count() const override
    {
        return static_cast<int>(SendMessageW(handle_, LB_GETCOUNT, 0, 0));
    }
    [[nodiscard]] std::string line(int index) const override
    {
        const LRESULT length = SendMessageW(handle_, LB_GETTEXTLEN, index, 0);
        if (index < 0 || length == LB_ERR)
            return {};
        std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(handle_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(shown.data()));
        shown.resize(static_cast<std::size_t>(length));
        return utf8(shown);
    }
};

class Win32ComboBox : public Win32Control<ComboBox> {
  public:
    using Win32Control::Win32Control;
    void setItems(const std::vector<std::string> &items) override
    {
        const std::string kept = text();
        SendMessageW(handle_, CB_RESETCONTENT, 0, 0);
        for (const std::string &item : items)
            SendMessageW(handle_, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(win32::wide(item).c_str()));
        setText(kept);
    }
};

// A timer of the form's window, by the control's ID; it follows the window's
// state, so that a minimised window wakes for nothing.
class Win32Timer : public Timer {
  public:
    Win32Timer(const char *name, HWND form, UINT_PTR id, int interval)
        : Timer(name), form_(form), id_(id), interval_(interval)
    {
    }
    ~Win32Timer() override { KillTimer(form_, id_); }
    [[nodiscard]] std::string text() const override { return std::to_string(interval_); }
    bool setText(const std::string &text) override
    {
        const int interval = std::atoi(text.c_str());
        if (interval < 1)
            return false;
        interval_ = interval;
        ticking_ = false; // SetTimer again with the new interval
        follow();
        return true;
    }
    void setEnabled(bool enabled) override
    {
        enabled_ = enabled;
        follow();
    }
    [[nodiscard]] bool enabled() const override { return enabled_; }
    [[nodiscard]] bool ticking() const override { return ticking_; }
    void onTick(std::function<void()> handler) override { handler_ = std::move(handler); }
    void tick() const
    {
        if (handler_ && ticking_)
            deliver(handler_);
    }
    void follow()
    {
        const bool wanted = enabled_ && IsWindowVisible(form_) && !IsIconic(form_);
        if (wanted && !ticking_)
            SetTimer(form_, id_, static_cast<UINT>(interval_), nullptr);
        else if (!wanted && ticking_)
            KillTimer(form_, id_);
        ticking_ = wanted;
    }

  private:
    HWND form_;
    UINT_PTR id_;
    int interval_;
    bool enabled_ = false;
    bool ticking_ = false;
    std::function<void()> handler_;
};

struct Kinds {
    const wchar_t *windowClass;
    DWORD style;
    DWORD exStyle;
};

// A label made two lines high or more is meant to wrap.
bool wraps(const ControlLayout &layout) { return layout.place.height >= 2 * 255; }

Kinds kindOf(const ControlLayout &layout)
{
    switch (layout.kind) {
    case Kind::TextBox:
    case Kind::MaskEdBox:
        return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case Kind::Label: // one line: with a larger text a wrapped second line would not show
        return {L"STATIC",
                static_cast<DWORD>(wraps(layout) ? SS_LEFT : SS_LEFTNOWORDWRAP) | SS_NOPREFIX, 0};
    case Kind::CommandButton:
        return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
    case Kind::CheckBox:
        return {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case Kind::ListBox:
        return {L"LISTBOX", WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,
                WS_EX_CLIENTEDGE};
    case Kind::ComboBox:
        return {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0};
    case Kind::Timer:
        return {nullptr, 0, 0};
    case Kind::Connector:
        return {win32::connectorWindowClass(), 0, 0};
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
    case Kind::CheckBox:
        return std::make_unique<Win32CheckBox>(layout.name, handle);
    case Kind::ListBox:
        return std::make_unique<Win32ListBox>(layout.name, handle);
    case Kind::ComboBox: // its edit part takes no text at creation
        SetWindowTextW(handle, win32::wide(layout.text).c_str());
        return std::make_unique<Win32ComboBox>(layout.name, handle);
    case Kind::Timer:
        break; // made by the form, which owns the timer
    case Kind::Connector:
        return win32::makeConnector(layout, handle);
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
    std::vector<std::pair<char, std::function<void()>>> keys; // Form::onKey's

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

    [[nodiscard]] DWORD style() const
    {
        return layout.resizable ? formStyle | WS_THICKFRAME | WS_MAXIMIZEBOX : formStyle;
    }

    // The window's outer size for the form's client area at dpi.
    [[nodiscard]] SIZE size(UINT dpi) const
    {
        const RECT frame = win32::frameFor(
            {0, 0, scaled(layout.width, dpi), scaled(layout.height, dpi)}, style(), dpi);
        return {frame.right - frame.left, frame.bottom - frame.top};
    }

    // A resizable form zooms: it is laid out at the DPI that makes the layout
    // fill the client area, in proportion, never below the window's own DPI.
    [[nodiscard]] UINT zoomedDpi() const
    {
        const UINT dpi = win32::windowDpi(handle);
        RECT client;
        if (!layout.resizable || !GetClientRect(handle, &client) || client.right <= 0)
            return dpi;
        const int across = MulDiv(client.right, 1440, layout.width);
        const int down = MulDiv(client.bottom, 1440, layout.height);
        return std::max(dpi, static_cast<UINT>(std::min(across, down)));
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
            if (!control) // a timer
                continue;
            // A drop-down's height includes its list.
            const int height =
                layout.controls[i].kind == Kind::ComboBox ? 8 * at.height : at.height;
            SetWindowPos(control, nullptr, scaled(at.left, dpi), scaled(at.top, dpi),
                         scaled(at.width, dpi), scaled(height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
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

template <class Type> Type *byId(const Form &form, WPARAM id)
{
    const auto index = static_cast<std::size_t>(id - firstId);
    return index < form.controls().size() ? dynamic_cast<Type *>(form.controls()[index].get())
                                          : nullptr;
}

void command(const Form &form, int id)
{
    if (const auto *clicked = byId<const Clickable>(form, static_cast<WPARAM>(id)))
        clicked->click();
}

void followWindow(const Form &form)
{
    for (const auto &control : form.controls())
        if (auto *timer = dynamic_cast<Win32Timer *>(control.get()))
            timer->follow();
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
    case WM_TIMER:
        if (form)
            if (const auto *timer = byId<const Win32Timer>(*form, wParam))
                timer->tick();
        return 0;
    case WM_WINDOWPOSCHANGED: // shown, hidden, minimised or restored
        if (form)
            followWindow(*form);
        break;
    case WM_SETFOCUS: // on activation the window gets the focus, and passes it on
        if (form)
            form->window().restoreFocus();
        return 0;
    case getDpiScaledSize:
    case WM_DPICHANGED:
        return form ? dpiChange(*form, window, message, wParam, lParam) : FALSE;
    case WM_SETTINGCHANGE: // a larger text or another message font
        if (form && wParam == SPI_SETNONCLIENTMETRICS)
            form->window().placeControls(form->window().zoomedDpi(), form->controls());
        return 0;
    case WM_SIZE:
        if (form && form->window().layout.resizable && wParam != SIZE_MINIMIZED)
            form->window().placeControls(form->window().zoomedDpi(), form->controls());
        break;
    case WM_GETMINMAXINFO: // no smaller than the layout
        if (form && form->window().layout.resizable) {
            const SIZE least = form->window().size(win32::windowDpi(window));
            reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize = {least.cx, least.cy};
            return 0;
        }
        break;
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
    w.handle = CreateWindowExW(0, formClass, win32::wide(layout.caption).c_str(), w.style(),
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
        const Kinds kinds = kindOf(item);
        if (!kinds.windowClass) {
            controls_.push_back(std::make_unique<Win32Timer>(
                item.name, w.handle, static_cast<UINT_PTR>(id++), std::atoi(item.text)));
            continue;
        }
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

void Form::onKey(char key, std::function<void()> handler)
{
    window_->keys.emplace_back(key, std::move(handler));
}

namespace win32 {

HWND handle(const Form &form) { return form.window().handle; }

bool handleKey(const MSG &message)
{
    if (message.message != WM_CHAR || !startupWindow)
        return false;
    const auto *form =
        reinterpret_cast<const Form *>(GetWindowLongPtrW(startupWindow, GWLP_USERDATA));
    wchar_t kind[16] = {};
    GetClassNameW(message.hwnd, kind, 16);
    if (!form || !IsChild(startupWindow, message.hwnd) || lstrcmpiW(kind, L"EDIT") == 0)
        return false; // a field takes its own characters
    for (const auto &[key, handler] : form->window().keys)
        if (message.wParam == static_cast<WPARAM>(static_cast<unsigned char>(key))) {
            deliver(handler);
            return true;
        }
    return false;
}

HWND shownForm() { return startupWindow; }

HWND handle(const Control *control)
{
    const auto *handled = dynamic_cast<const Handled *>(control);
    return handled ? handled->handle() : nullptr;
}

} // namespace win32
} // namespace runtime
