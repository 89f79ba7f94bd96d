// The version resource compiled into this executable reads back as 1.00.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::vector<BYTE> versionInfo()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path, &ignored));
    EXPECT_FALSE(info.empty());
    EXPECT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data()));
    return info;
}

std::wstring text(std::vector<BYTE> &info, const wchar_t *name)
{
    void *value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &length))
        return L"(missing)";
    return static_cast<const wchar_t *>(value);
}

TEST(VersionResource, FileAndProductVersionAre1_00)
{
    auto info = versionInfo();
    EXPECT_EQ(text(info, L"FileVersion"), L"1.00");
    EXPECT_EQ(text(info, L"ProductVersion"), L"1.00");

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
}

} // namespace
