// Reads the running portpanel's window from outside, as a screen reader or
// test tool would: the client area, every child control's class, ID,
// rectangle, style and text, and which control has the focus. One line each.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <windows.h>

#include <commctrl.h>
#include <initguid.h> // IID_IAccessible as data: the import library has it as code
#include <oleacc.h>

namespace {

std::string utf8(const wchar_t *text)
{
    char bytes[2048];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return n > 0 ? bytes : "";
}

// A control's ID; every drop-down's edit field has the same one (1001), so
// one inside a drop-down is told by its drop-down's ID plus 10000.
int idOf(HWND child)
{
    wchar_t parentType[64] = L"";
    GetClassNameW(GetParent(child), parentType, 64);
    return std::wcscmp(parentType, L"ComboBox") == 0 ? GetDlgCtrlID(GetParent(child)) + 10000
                                                     : GetDlgCtrlID(child);
}

BOOL CALLBACK control(HWND child, LPARAM form)
{
    wchar_t type[64];
    wchar_t text[256] = L"";
    GetClassNameW(child, type, 64);
    SendMessageW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    RECT r;
    GetWindowRect(child, &r);
    POINT topLeft{r.left, r.top};
    ScreenToClient(reinterpret_cast<HWND>(form), &topLeft);
    std::printf(
        "control id=%d class=%s rect=%ld,%ld,%ld,%ld screen=%ld,%ld style=0x%08lX text=%s\n",
        idOf(child), utf8(type).c_str(), topLeft.x, topLeft.y, r.right - r.left, r.bottom - r.top,
        r.left, r.top, static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
        utf8(text).c_str());
    return TRUE;
}

// "reader tips": the text of each tooltip shown.
BOOL CALLBACK tipText(HWND window, LPARAM)
{
    wchar_t type[64] = L"";
    wchar_t text[512] = L"";
    GetClassNameW(window, type, 64);
    if (IsWindowVisible(window) && _wcsicmp(type, TOOLTIPS_CLASSW) == 0) {
        SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
        std::printf("tip text=%s\n", utf8(text).c_str());
    }
    return TRUE;
}

// "reader box": the texts of the error box instead.
BOOL CALLBACK boxText(HWND child, LPARAM)
{
    wchar_t text[1024] = L"";
    SendMessageW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    if (*text)
        std::printf("box text=%s\n", utf8(text).c_str());
    return TRUE;
}

// Dispatches this thread's messages for a while. Wine moves the foreground
// between processes in ways no call here can see (with the user's last input
// in the form it goes to the desktop, and back only as these messages flow),
// so "away" gives it time; the test then waits for the focus it expects.
void pump(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(10);
    }
}

// "reader away": another window takes the foreground, then gives it back.
int away(HWND form)
{
    const HWND other = CreateWindowExW(0, L"STATIC", L"away", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                       0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    pump(500);
    SetForegroundWindow(form);
    pump(300);
    DestroyWindow(other);
    return 0;
}

// "reader clip TEXT": TEXT on the clipboard.
int clip(const char *text)
{
    const std::size_t size = (std::strlen(text) + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    auto *chars = static_cast<wchar_t *>(GlobalLock(memory));
    MultiByteToWideChar(CP_UTF8, 0, text, -1, chars, static_cast<int>(size / sizeof(wchar_t)));
    GlobalUnlock(memory);
    const bool ok = OpenClipboard(nullptr) && EmptyClipboard() &&
                    SetClipboardData(CF_UNICODETEXT, memory) && CloseClipboard();
    return ok ? 0 : 1;
}

// A text property of an accessible object's child, "" where it has none.
std::string said(IAccessible *object,
                 HRESULT (STDMETHODCALLTYPE IAccessible::*property)(VARIANT, BSTR *),
                 const VARIANT &child)
{
    BSTR text = nullptr;
    if ((object->*property)(child, &text) != S_OK || !text)
        return "";
    const std::string bytes = utf8(text);
    SysFreeString(text);
    return bytes;
}

long numberOf(HRESULT answer, const VARIANT &value)
{
    return answer == S_OK && value.vt == VT_I4 ? value.lVal : -1;
}

// "reader pins": the controls, then the drawn socket as a screen reader reads
// it through its accessible object: each contact's role, state, place, the
// child found at its middle, and its name and line (a tab between).
int drawnPins(HWND form)
{
    EnumChildWindows(form, control, reinterpret_cast<LPARAM>(form));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HWND drawing = FindWindowExW(form, nullptr, L"portpanelConnector", nullptr);
    IAccessible *socket = nullptr;
    const HRESULT found = drawing
                              ? AccessibleObjectFromWindow(drawing, OBJID_CLIENT, IID_IAccessible,
                                                           reinterpret_cast<void **>(&socket))
                              : E_HANDLE;
    if (found != S_OK)
        return std::printf("no accessible connector 0x%08lX\n", static_cast<unsigned long>(found)),
               1;
    VARIANT child{};
    child.vt = VT_I4;
    long count = 0;
    socket->get_accChildCount(&count);
    VARIANT role{};
    VARIANT state{};
    std::printf("connector children=%ld role=%ld name=%s\n", count,
                numberOf(socket->get_accRole(child, &role), role),
                said(socket, &IAccessible::get_accName, child).c_str());
    for (child.lVal = 1; child.lVal <= count; ++child.lVal) {
        long x = 0, y = 0, width = 0, height = 0;
        socket->accLocation(&x, &y, &width, &height, child);
        VARIANT hit{};
        std::printf("pin id=%ld role=%ld state=%ld rect=%ld,%ld,%ld,%ld hit=%ld said=%s\t%s\n",
                    child.lVal, numberOf(socket->get_accRole(child, &role), role),
                    numberOf(socket->get_accState(child, &state), state), x, y, width, height,
                    numberOf(socket->accHitTest(x + width / 2, y + height / 2, &hit), hit),
                    said(socket, &IAccessible::get_accName, child).c_str(),
                    said(socket, &IAccessible::get_accDescription, child).c_str());
    }
    socket->Release();
    return 0;
}

void CALLBACK nameChanged(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    wchar_t type[64] = L"";
    GetClassNameW(window, type, 64);
    if (object == OBJID_CLIENT && std::wcscmp(type, L"portpanelConnector") == 0) {
        std::printf("event child=%ld\n", static_cast<long>(child));
        std::fflush(stdout);
    }
}

// "reader events": each name change the drawn socket tells of, as it comes,
// for two minutes or until ended.
int nameChanges(HWND form)
{
    DWORD process = 0;
    GetWindowThreadProcessId(form, &process);
    if (!SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, nameChanged,
                         process, 0, WINEVENT_OUTOFCONTEXT))
        return std::puts("no hook"), 1;
    std::puts("listening");
    std::fflush(stdout);
    pump(120'000);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "box") {
        const HWND box = FindWindowW(nullptr, L"portpanel");
        return box ? (EnumChildWindows(box, boxText, 0), 0) : (std::puts("no box"), 1);
    }
    if (mode == "clip" && argc > 2)
        return clip(argv[2]);
    if (mode == "tips")
        return EnumWindows(tipText, 0), 0;
    // "reader desktop": whether a top-level window can be made yet. In a new
    // prefix wine starts its desktop at the first window and, while it builds
    // its caches on a busy machine, refuses windows (error 120) until it is up.
    if (mode == "desktop") {
        const HWND window = CreateWindowExW(0, L"STATIC", L"desktop", WS_OVERLAPPED, 0, 0, 10, 10,
                                            nullptr, nullptr, nullptr, nullptr);
        std::printf(window ? "desktop up\n" : "desktop error %lu\n", GetLastError());
        return window ? (DestroyWindow(window), 0) : 1;
    }
    // PORTPANEL_WINDOW names another program's window (the pins window).
    const wchar_t *named = _wgetenv(L"PORTPANEL_WINDOW");
    const HWND form = FindWindowW(nullptr, named ? named : L"Form1");
    if (!form)
        return std::puts("no Form1"), 1;
    if (mode == "away")
        return away(form);
    // "reader size WIDTH HEIGHT": the client area made that size, as a drag of its frame would.
    if (mode == "size" && argc > 3) {
        RECT frame{0, 0, std::atoi(argv[2]), std::atoi(argv[3])};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(form, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongW(form, GWL_EXSTYLE)));
        return SetWindowPos(form, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)
                   ? 0
                   : 1;
    }
    if (mode == "pins")
        return drawnPins(form);
    if (mode == "events")
        return nameChanges(form);
    // "reader send ID MESSAGE WPARAM LPARAM", numbers in hex; ID 0 is the window itself.
    if (mode == "send" && argc > 5) {
        const int id = static_cast<int>(std::strtol(argv[2], nullptr, 16));
        return static_cast<int>(SendMessageW(
            id ? GetDlgItem(form, id) : form, static_cast<UINT>(std::strtoul(argv[3], nullptr, 16)),
            static_cast<WPARAM>(std::strtoull(argv[4], nullptr, 16)),
            static_cast<LPARAM>(std::strtoll(argv[5], nullptr, 16))));
    }
    RECT client;
    GetClientRect(form, &client);
    wchar_t title[64];
    GetWindowTextW(form, title, 64);
    std::printf("window title=%s client=%ldx%ld\n", utf8(title).c_str(), client.right,
                client.bottom);
    EnumChildWindows(form, control, reinterpret_cast<LPARAM>(form));
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &thread);
    std::printf("focus id=%d\n", thread.hwndFocus ? idOf(thread.hwndFocus) : 0);
    return 0;
}
