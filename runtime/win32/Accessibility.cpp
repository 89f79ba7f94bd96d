// Names that screen readers say for controls without visible text of their
// own: annotations through the platform's accessibility services (MSAA's
// name property), which Windows has had since XP.
#include "Win32Runtime.h"

#include <initguid.h> // defines the GUIDs oleacc.h declares, here only

#include <oleacc.h>

namespace runtime::win32 {
namespace {

IAccPropServices *services()
{
    static IAccPropServices *const once = [] {
        IAccPropServices *created = nullptr;
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(com) || com == RPC_E_CHANGED_MODE)
            CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IAccPropServices, reinterpret_cast<void **>(&created));
        return created;
    }();
    return once;
}

} // namespace

// Without the services the control keeps the name Windows derives for it; the
// window works all the same.
void setAccessibleName(HWND control, const std::string &name)
{
    if (IAccPropServices *accessibility = services())
        accessibility->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                      PROPID_ACC_NAME, wide(name).c_str());
}

} // namespace runtime::win32
