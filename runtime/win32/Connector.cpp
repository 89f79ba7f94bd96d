// The drawn DB-25 socket on Win32: a child window painted from the shared
// drawing (double-buffered, so a poll's repaint does not flicker), a click on
// a contact delivered as a pin number, and a tooltip per contact with its line.
// Its size comes from the form's placing, so it follows the window's DPI. Screen
// readers reach each contact through its accessible object.
#include "ConnectorAccessible.h"
#include "ConnectorDrawing.h"
#include "EventDelivery.h"
#include "Win32Runtime.h"

#include <commctrl.h>
#include <windowsx.h>

namespace runtime::win32 {
namespace {

constexpr wchar_t connectorClass[] = L"portpanelConnector";

COLORREF colour(drawing::Colour c) { return RGB(c.red, c.green, c.blue); }
RECT boxRect(const drawing::Box &box)
{
    return {box.left, box.top, box.left + box.width, box.top + box.height};
}

class Win32Connector;
Win32Connector *of(HWND window)
{
    return reinterpret_cast<Win32Connector *>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

class Win32Connector : public Connector, public Handled {
  public:
    Win32Connector(const ControlLayout &layout, HWND handle)
        : Connector(layout.name), handle_(handle),
          source_(std::make_shared<DrawnSource>(
              DrawnSource{this, layout.accessibleName ? layout.accessibleName : ""}))
    {
        SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, 0,
                                0, 0, 0, handle_, nullptr, GetModuleHandleW(nullptr), nullptr);
        for (UINT_PTR number = 1; number <= std::tuple_size_v<DrawnPins>; ++number) {
            TOOLINFOW tool = toolOf(number);
            tool.uFlags = TTF_SUBCLASS;
            tool.lpszText = LPSTR_TEXTCALLBACKW;
            SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
    ~Win32Connector() override
    {
        source_->control = nullptr;
        SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    }
    Win32Connector(const Win32Connector &) = delete;
    Win32Connector &operator=(const Win32Connector &) = delete;

    [[nodiscard]] HWND handle() const override { return handle_; }
    void onPinClick(std::function<void(int)> handler) override { clicked_ = std::move(handler); }

    [[nodiscard]] drawing::Layout laidOut() const { return win32::laidOut(handle_); }
    [[nodiscard]] LRESULT accessible(WPARAM flags) const
    {
        return connectorObject(handle_, flags, source_);
    }

    // Each contact's tool follows the contact.
    void resized() const
    {
        const drawing::Layout now = laidOut();
        for (UINT_PTR number = 1; number <= now.contacts.size(); ++number) {
            TOOLINFOW tool = toolOf(number);
            tool.rect = boxRect(now.contacts.at(number - 1).contact);
            SendMessageW(tips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }

    // A hand over a contact that a click toggles.
    [[nodiscard]] bool pointsAtOutput() const
    {
        POINT at;
        GetCursorPos(&at);
        ScreenToClient(handle_, &at);
        const int number = drawing::pinAt(laidOut(), at.x, at.y);
        return number &&
               pins().at(static_cast<std::size_t>(number - 1)).role == DrawnPin::Role::Output;
    }

    void click(LPARAM at) const
    {
        const int number = drawing::pinAt(laidOut(), GET_X_LPARAM(at), GET_Y_LPARAM(at));
        if (number && clicked_)
            deliver([this, number] { clicked_(number); });
    }

    // TTN_GETDISPINFO: the contact's line, kept until the next ask.
    void tip(NMTTDISPINFOW &info)
    {
        const std::size_t index = info.hdr.idFrom - 1;
        tipText_ = index < pins().size() ? wide(pins()[index].line) : std::wstring();
        info.lpszText = tipText_.data();
    }

    void paint(HDC target) const
    {
        RECT client;
        GetClientRect(handle_, &client);
        // Off screen first: the window shows each poll's picture whole.
        HDC dc = CreateCompatibleDC(target);
        HBITMAP picture = CreateCompatibleBitmap(target, client.right, client.bottom);
        HGDIOBJ oldPicture = SelectObject(dc, picture);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        draw(dc, laidOut());
        BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
        SelectObject(dc, oldPicture);
        DeleteObject(picture);
        DeleteDC(dc);
    }

  protected:
    void redraw(const DrawnPins &before) override
    {
        InvalidateRect(handle_, nullptr, FALSE);
        announcePinNames(handle_, before, pins());
    }

  private:
    [[nodiscard]] TOOLINFOW toolOf(UINT_PTR number) const
    {
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = handle_;
        tool.uId = number;
        return tool;
    }

    void draw(HDC dc, const drawing::Layout &layout) const
    {
        HPEN pen = CreatePen(PS_SOLID, 1, colour(drawing::outline));
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HBRUSH shellBrush = CreateSolidBrush(colour(drawing::shellFill));
        HGDIOBJ oldBrush = SelectObject(dc, shellBrush);
        POINT shell[4];
        for (std::size_t i = 0; i < layout.shell.size(); ++i)
            shell[i] = {layout.shell[i].x, layout.shell[i].y};
        Polygon(dc, shell, 4);
        LOGFONTW face = messageFont(windowDpi(handle_));
        face.lfHeight = -layout.fontPixels;
        face.lfWeight = FW_NORMAL;
        HFONT normal = CreateFontIndirectW(&face);
        face.lfWeight = FW_BOLD;
        HFONT bold = CreateFontIndirectW(&face);
        HGDIOBJ oldFont = SelectObject(dc, normal);
        SetBkMode(dc, TRANSPARENT);
        for (std::size_t i = 0; i < layout.contacts.size(); ++i)
            drawPin(dc, layout.contacts[i], pins()[i], static_cast<int>(i) + 1, normal, bold);
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(bold);
        DeleteObject(normal);
        DeleteObject(shellBrush);
        DeleteObject(pen);
    }

    static void text(HDC dc, const drawing::Box &box, const std::string &utf8)
    {
        RECT at = boxRect(box);
        std::wstring shown = wide(utf8);
        DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &at,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    }

    static void drawPin(HDC dc, const drawing::Contact &at, const DrawnPin &pin, int number,
                        HFONT normal, HFONT bold)
    {
        HBRUSH brush = CreateSolidBrush(colour(drawing::fill(pin)));
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        HPEN rim =
            CreatePen(PS_SOLID, drawing::rimWidth(pin, at.contact), colour(drawing::rim(pin)));
        HGDIOBJ oldPen = SelectObject(dc, rim);
        const RECT contact = boxRect(at.contact);
        if (pin.role == DrawnPin::Role::Output)
            Rectangle(dc, contact.left, contact.top, contact.right, contact.bottom);
        else
            Ellipse(dc, contact.left, contact.top, contact.right, contact.bottom);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
        SelectObject(dc, oldPen);
        DeleteObject(rim);
        SelectObject(dc, bold);
        SetTextColor(dc, colour(drawing::ink(pin)));
        text(dc, at.contact, drawing::levelText(pin));
        SetTextColor(dc, colour(drawing::nameInk(pin)));
        text(dc, at.name, pin.name);
        SetTextColor(dc, colour(drawing::labelInk));
        SelectObject(dc, normal);
        text(dc, at.number, std::to_string(number));
        text(dc, at.detail, pin.detail);
    }

    HWND handle_;
    std::shared_ptr<DrawnSource> source_;
    HWND tips_ = nullptr;
    std::function<void(int)> clicked_;
    std::wstring tipText_;
};

LRESULT CALLBACK connectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Win32Connector *drawn = of(window);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (drawn)
            drawn->paint(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND: // painted whole in WM_PAINT
        return 1;
    case WM_SIZE:
        if (drawn)
            drawn->resized();
        return 0;
    case WM_SETCURSOR:
        if (drawn && drawn->pointsAtOutput()) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_LBUTTONUP:
        if (drawn)
            drawn->click(lParam);
        return 0;
    case WM_GETOBJECT: // lParam as a DWORD: sign extension would miss OBJID_CLIENT
        if (drawn && static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT))
            return drawn->accessible(wParam);
        break;
    case WM_NOTIFY:
        if (drawn && reinterpret_cast<NMHDR *>(lParam)->code == TTN_GETDISPINFOW)
            drawn->tip(*reinterpret_cast<NMTTDISPINFOW *>(lParam));
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

const wchar_t *connectorWindowClass()
{
    static const ATOM registered = [] {
        WNDCLASSEXW type{};
        type.cbSize = sizeof type;
        type.lpfnWndProc = connectorProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        type.lpszClassName = connectorClass;
        return RegisterClassExW(&type);
    }();
    (void)registered;
    return connectorClass;
}

std::unique_ptr<Control> makeConnector(const ControlLayout &layout, HWND handle)
{
    auto made = std::make_unique<Win32Connector>(layout, handle);
    made->resized();
    return made;
}

} // namespace runtime::win32
