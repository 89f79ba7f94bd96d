// The drawn socket's MSAA object. The contacts are simple elements (child ID =
// pin number) answered by this object from the same pins the drawing paints;
// for the control itself, what the system's standard object knows of any
// window (parent, place, state, focus) is asked of it.
#include "ConnectorAccessible.h"
#include "Win32Runtime.h"

#include <oleacc.h>
#include <utility>

namespace runtime::win32 {
namespace {

constexpr long pinCount = std::tuple_size_v<DrawnPins>;

HRESULT text(const std::string &utf8, BSTR *out)
{
    *out = SysAllocString(wide(utf8).c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT number(long value, VARIANT *out)
{
    out->vt = VT_I4;
    out->lVal = value;
    return S_OK;
}

VARIANT self()
{
    VARIANT id{};
    number(CHILDID_SELF, &id);
    return id;
}

// The next or previous contact, none past either end; -1 for a direction
// that simple elements in a row do not have.
long sibling(long pin, long direction)
{
    if (direction != NAVDIR_NEXT && direction != NAVDIR_PREVIOUS)
        return -1;
    const long to = direction == NAVDIR_NEXT ? pin + 1 : pin - 1;
    return to >= 1 && to <= pinCount ? to : 0;
}

class ConnectorAccessible final : public IAccessible {
  public:
    ConnectorAccessible(HWND window, std::shared_ptr<const DrawnSource> source)
        : window_(window), source_(std::move(source))
    {
        CreateStdAccessibleObject(window, OBJID_CLIENT, IID_IAccessible,
                                  reinterpret_cast<void **>(&standard_));
    }
    ~ConnectorAccessible()
    {
        if (standard_)
            standard_->Release();
    }
    ConnectorAccessible(const ConnectorAccessible &) = delete;
    ConnectorAccessible &operator=(const ConnectorAccessible &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (id != IID_IUnknown && id != IID_IDispatch && id != IID_IAccessible)
            return E_NOINTERFACE;
        *out = static_cast<IAccessible *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (!left)
            delete this;
        return left;
    }

    // Clients call the interface itself; no type information to script it by.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        return count ? (*count = 0, S_OK) : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                     EXCEPINFO *, UINT *) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch **parent) override
    {
        return standard(&IAccessible::get_accParent, parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long *count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return gone() ? E_FAIL : (*count = pinCount, S_OK);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        long id = 0;
        if (const HRESULT checked = idOf(child, id); checked != S_OK)
            return checked;
        return id == CHILDID_SELF ? E_INVALIDARG : S_FALSE; // an element, not an object
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR *out) override
    {
        if (out && !source_->name.empty() && child.vt == VT_I4 && child.lVal == CHILDID_SELF)
            return gone() ? (*out = nullptr, E_FAIL) : text(source_->name, out);
        return property(&IAccessible::get_accName, child, out, &DrawnPin::accessibleName);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR *out) override
    {
        return property(&IAccessible::get_accValue, child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR *out) override
    {
        return property(&IAccessible::get_accDescription, child, out, &DrawnPin::line);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT *out) override
    {
        long id = 0;
        if (const HRESULT checked = idOf(child, id, out); checked != S_OK)
            return checked;
        return number(id == CHILDID_SELF ? ROLE_SYSTEM_GRAPHIC : ROLE_SYSTEM_STATICTEXT, out);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT *out) override
    {
        long id = 0;
        if (const HRESULT checked = idOf(child, id, out); checked != S_OK || id == CHILDID_SELF)
            return checked == S_OK ? standard(&IAccessible::get_accState, child, out) : checked;
        // A contact is read, not edited, and hidden with the control.
        VARIANT control{};
        const long shown =
            SUCCEEDED(standard(&IAccessible::get_accState, self(), &control)) && control.vt == VT_I4
                ? control.lVal & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)
                : 0;
        return number(STATE_SYSTEM_READONLY | shown, out);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR *out) override
    {
        return property(&IAccessible::get_accHelp, child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR *file, VARIANT child, long *topic) override
    {
        if (!file || !topic)
            return E_POINTER;
        *file = nullptr;
        return selfOnly(
            child, [&] { return standard(&IAccessible::get_accHelpTopic, file, child, topic); });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR *out) override
    {
        return property(&IAccessible::get_accKeyboardShortcut, child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT *out) override
    {
        return standard(&IAccessible::get_accFocus, out);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT *out) override
    {
        return standard(&IAccessible::get_accSelection, out);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR *out) override
    {
        return property(&IAccessible::get_accDefaultAction, child, out);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        return selfOnly(child, [&] { return standard(&IAccessible::accSelect, flags, child); });
    }
    HRESULT STDMETHODCALLTYPE accLocation(long *left, long *top, long *width, long *height,
                                          VARIANT child) override
    {
        if (!left || !top || !width || !height)
            return E_POINTER;
        *left = *top = *width = *height = 0;
        long id = 0;
        if (const HRESULT checked = idOf(child, id); checked != S_OK || id == CHILDID_SELF)
            return checked == S_OK
                       ? standard(&IAccessible::accLocation, left, top, width, height, child)
                       : checked;
        const drawing::Box box =
            laidOut(window_).contacts.at(static_cast<std::size_t>(id - 1)).contact;
        POINT corner{box.left, box.top};
        ClientToScreen(window_, &corner);
        *left = corner.x;
        *top = corner.y;
        *width = box.width;
        *height = box.height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT *out) override
    {
        long id = 0;
        if (const HRESULT checked = idOf(start, id, out); checked != S_OK)
            return checked;
        const bool down = direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD;
        if (id == CHILDID_SELF)
            return down ? number(direction == NAVDIR_FIRSTCHILD ? 1 : pinCount, out)
                        : standard(&IAccessible::accNavigate, direction, start, out);
        if (down) // a contact has no children
            return E_INVALIDARG;
        const long to = sibling(id, direction);
        if (to < 0)
            return DISP_E_MEMBERNOTFOUND;
        return to ? number(to, out) : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT *out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        if (gone())
            return E_FAIL;
        POINT at{x, y};
        ScreenToClient(window_, &at);
        RECT client;
        GetClientRect(window_, &client);
        if (at.x < 0 || at.y < 0 || at.x >= client.right || at.y >= client.bottom)
            return S_FALSE;
        return number(drawing::pinAt(laidOut(window_), at.x, at.y), out); // 0: CHILDID_SELF
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        return selfOnly(child, [&] { return standard(&IAccessible::accDoDefaultAction, child); });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    [[nodiscard]] bool gone() const { return !source_->control || !IsWindow(window_); }

    // S_OK with the pin's number or CHILDID_SELF; E_INVALIDARG for no such
    // child; E_FAIL once the control is gone.
    HRESULT idOf(const VARIANT &child, long &id) const
    {
        if (gone())
            return E_FAIL;
        if (child.vt != VT_I4 || child.lVal < CHILDID_SELF || child.lVal > pinCount)
            return E_INVALIDARG;
        id = child.lVal;
        return S_OK;
    }

    // The same, with the answer's VARIANT cleared first.
    HRESULT idOf(const VARIANT &child, long &id, VARIANT *out) const
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        return idOf(child, id);
    }

    [[nodiscard]] const DrawnPin &pin(long id) const
    {
        return source_->control->pins().at(static_cast<std::size_t>(id - 1));
    }

    template <class... Parameters, class... Arguments>
    HRESULT standard(HRESULT (STDMETHODCALLTYPE IAccessible::*method)(Parameters...),
                     Arguments &&...arguments) const
    {
        if (gone())
            return E_FAIL;
        return standard_ ? (standard_->*method)(std::forward<Arguments>(arguments)...)
                         : DISP_E_MEMBERNOTFOUND;
    }

    // What the control answers and a contact does not have.
    template <class Ask> HRESULT selfOnly(const VARIANT &child, Ask ask) const
    {
        long id = 0;
        if (const HRESULT checked = idOf(child, id); checked != S_OK)
            return checked;
        return id == CHILDID_SELF ? ask() : DISP_E_MEMBERNOTFOUND;
    }

    // A text: the standard object's for the control, the pin's field (if it
    // has one) for a contact.
    HRESULT property(HRESULT (STDMETHODCALLTYPE IAccessible::*method)(VARIANT, BSTR *),
                     VARIANT child, BSTR *out, std::string DrawnPin::*field = nullptr) const
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        long id = 0;
        if (const HRESULT checked = idOf(child, id); checked != S_OK || id == CHILDID_SELF)
            return checked == S_OK ? standard(method, child, out) : checked;
        return field ? text(pin(id).*field, out) : DISP_E_MEMBERNOTFOUND;
    }

    LONG references_ = 1;
    HWND window_;
    std::shared_ptr<const DrawnSource> source_;
    IAccessible *standard_ = nullptr;
};

} // namespace

drawing::Layout laidOut(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    return drawing::layOut(client.right, client.bottom);
}

// A new object at each ask, released here: LresultFromObject holds what the
// client needs, and the last client's Release ends it.
LRESULT connectorObject(HWND window, WPARAM flags, std::shared_ptr<const DrawnSource> source)
{
    if (!comReady())
        return 0;
    auto *object = new ConnectorAccessible(window, std::move(source));
    const LRESULT reference = LresultFromObject(IID_IAccessible, flags, object);
    object->Release();
    return reference;
}

void announcePinNames(HWND window, const DrawnPins &before, const DrawnPins &now)
{
    for (std::size_t i = 0; i < now.size(); ++i)
        if (before[i].accessibleName != now[i].accessibleName)
            NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, static_cast<LONG>(i + 1));
}

} // namespace runtime::win32
