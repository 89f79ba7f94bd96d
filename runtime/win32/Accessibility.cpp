// Names that screen readers say for controls without visible text of their
// own, and the status line as a live region: annotations through the platform's accessibility
// services (MSAA's name property), which Windows has had since XP.
#include "Win32Runtime.h"

#include <initguid.h> // defines the GUIDs oleacc.h declares, here only

#include <oleacc.h>

namespace runtime::win32 {
namespace {

IAccPropServices *services()
{
    static IAccPropServices *const once = [] {
        IAccPropServices *created = nullptr;
        if (comReady())
            CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IAccPropServices, reinterpret_cast<void **>(&created));
        return created;
    }();
    return once;
}

// UIAutomationCoreApi.h's LiveSetting_Property_GUID, which mingw-w64 lacks.
// Windows 10 1709 and later read it as a live-region annotation; older
// versions ignore it.
constexpr GUID liveSetting = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr long polite = 1;
constexpr DWORD liveRegionChanged = 0x8019; // EVENT_OBJECT_LIVEREGIONCHANGED

} // namespace

bool comReady()
{
    static const bool once = [] {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        return SUCCEEDED(com) || com == RPC_E_CHANGED_MODE;
    }();
    return once;
}

void makeLiveRegion(HWND control)
{
    if (IAccPropServices *accessibility = services()) {
        VARIANT value{};
        value.vt = VT_I4;
        value.lVal = polite;
        accessibility->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   liveSetting, value);
    }
}

void announceChange(HWND control)
{
    NotifyWinEvent(liveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
}

// Without the services the control keeps the name Windows derives for it; the
// window works all the same.
void setAccessibleName(HWND control, const std::string &name)
{
    if (IAccPropServices *accessibility = services())
        accessibility->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                      PROPID_ACC_NAME, wide(name).c_str());
}

} // namespace runtime::win32
