// The Ports device class as SetupAPI and the configuration manager answer
// for it, and which inpout32.dll the binder finds.
#include "Library.h"
#include "WideText.h"
#include "WindowsPorts.h"

#include <cstring>
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

namespace finder::onwindows {
namespace {

// GUID_DEVCLASS_PORTS, spelled out: devguid.h would want initguid.h first.
constexpr GUID portsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
static_assert(fIOD_PortType == 0x1 && fIOD_IO == 0x1, "IoAnswer's flags are IO_DES's");

std::string property(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD which)
{
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, which, &type, reinterpret_cast<BYTE *>(text),
                                           sizeof text - sizeof *text, nullptr) ||
        type != REG_SZ)
        return "";
    return runtime::utf8(text);
}

std::string instanceId(HDEVINFO set, SP_DEVINFO_DATA &info)
{
    wchar_t text[MAX_DEVICE_ID_LEN + 1] = {};
    return SetupDiGetDeviceInstanceIdW(set, &info, text, MAX_DEVICE_ID_LEN, nullptr)
               ? runtime::utf8(text)
               : "";
}

// "LPT1", "COM3": the device key's PortName.
std::string portName(HDEVINFO set, SP_DEVINFO_DATA &info)
{
    const HKEY key =
        SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return "";
    wchar_t text[64] = {};
    DWORD type = 0, size = sizeof text - sizeof *text;
    const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                       reinterpret_cast<BYTE *>(text), &size) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(key);
    return read ? runtime::utf8(text) : "";
}

// One resource descriptor's IO_DES; false when it cannot be read.
bool ioDescriptor(RES_DES descriptor, IoAnswer &io)
{
    ULONG size = 0;
    if (CM_Get_Res_Des_Data_Size(&size, descriptor, 0) != CR_SUCCESS || size < sizeof(IO_DES))
        return false;
    std::vector<std::uint64_t> data((size + 7) / 8); // IO_DES holds 64-bit fields
    if (CM_Get_Res_Des_Data(descriptor, data.data(), size, 0) != CR_SUCCESS)
        return false;
    IO_DES header{};
    std::memcpy(&header, data.data(), sizeof header);
    io = {header.IOD_Alloc_Base, header.IOD_Alloc_End, header.IOD_DesFlags};
    return true;
}

// The I/O descriptors of one kind of configuration; false when the device
// has none of that kind.
bool ioOf(DEVINST device, ULONG kind, std::vector<IoAnswer> &io)
{
    LOG_CONF configuration = 0;
    if (CM_Get_First_Log_Conf(&configuration, device, kind) != CR_SUCCESS)
        return false;
    RES_DES descriptor = 0;
    RESOURCEID type = 0;
    CONFIGRET result = CM_Get_Next_Res_Des(&descriptor, configuration, ResType_IO, &type, 0);
    while (result == CR_SUCCESS) {
        if (IoAnswer range; ioDescriptor(descriptor, range))
            io.push_back(range);
        RES_DES next = 0;
        result = CM_Get_Next_Res_Des(&next, descriptor, ResType_IO, &type, 0);
        CM_Free_Res_Des_Handle(descriptor);
        descriptor = next;
    }
    CM_Free_Log_Conf_Handle(configuration);
    return true;
}

DeviceAnswer answer(HDEVINFO set, SP_DEVINFO_DATA &info)
{
    DeviceAnswer device;
    device.instanceId = instanceId(set, info);
    device.friendlyName = property(set, info, SPDRP_FRIENDLYNAME);
    if (device.friendlyName.empty())
        device.friendlyName = property(set, info, SPDRP_DEVICEDESC);
    device.service = property(set, info, SPDRP_SERVICE);
    device.portName = portName(set, info);
    ULONG status = 0, problem = 0;
    if (CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0) == CR_SUCCESS &&
        (status & DN_HAS_PROBLEM) != 0)
        device.problem = problem;
    device.allocated = ioOf(info.DevInst, ALLOC_LOG_CONF, device.io);
    if (!device.allocated)
        ioOf(info.DevInst, BOOT_LOG_CONF, device.io);
    return device;
}

} // namespace

std::vector<DeviceAnswer> askWindows()
{
    std::vector<DeviceAnswer> devices;
    const HDEVINFO set = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index)
        devices.push_back(answer(set, info));
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

namespace {

// A DWORD under HKLM in the 64-bit view, which a 32-bit program sees too; -1
// where it is absent.
int machineValue(const wchar_t *key, const wchar_t *name)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) !=
        ERROR_SUCCESS)
        return -1;
    DWORD value = 0, type = 0, size = sizeof value;
    const LSTATUS status =
        RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(opened);
    return status == ERROR_SUCCESS && type == REG_DWORD ? static_cast<int>(value != 0) : -1;
}

} // namespace

RegistryAnswer askRegistry()
{
    return {machineValue(L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                         L"HypervisorEnforcedCodeIntegrity",
                         L"Enabled"),
            machineValue(L"SYSTEM\\CurrentControlSet\\Control\\CI\\Config",
                         L"VulnerableDriverBlocklistEnable")};
}

LibraryAnswer askBinder()
{
    const runtime::LibraryLocation where = runtime::locate("inpout32.dll");
    return {where.path, where.bits, where.why};
}

} // namespace finder::onwindows
