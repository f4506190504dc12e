#include "ProcessInfo.h"
#include "StoreUnderTest.h"
#include "uLumetraMainSettings.h"
#include "uRegistry.h"

#include <gtest/gtest.h>

#include <windows.h>

TStoreUnderTest RegistryStoreUnderTest() {
    return {"Registry", []() -> SettingsStore& { return PlatformSettingsStore(); },
            [](const std::wstring& path) { RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }};
}

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Reads a value with the platform's own call, to see where and how it really landed.
bool RawValue(const wchar_t* key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    data.resize(size);
    return RegGetValueW(HKEY_CURRENT_USER, key, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(),
                        &size) == ERROR_SUCCESS;
}

class RegistryOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        FName = UniqueName(L"LumetraRaw");
        FPath = L"C:\\Program Files\\Lumetra\\" + FName + L".exe";
        ProcessInfo::OverrideExecutablePath(FPath);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, RegSettingsKeyPath(FName).c_str());
        HKEY run = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueW(run, FName.c_str());
            RegCloseKey(run);
        }
        ProcessInfo::OverrideExecutablePath(std::nullopt);
    }
    std::wstring FName;
    std::wstring FPath;
};

TEST_F(RegistryOnDisk, ValuesLandWhereOtherProgramsLookForThem) {
    MainSettings::SaveSettings(true, false);
    RegWriteString(MainSettings::DefaultSerial, L"AL12K1C01234");

    DWORD type = 0;
    std::vector<BYTE> data;
    const std::wstring settings = L"Software\\Lumetra\\" + FName;
    ASSERT_TRUE(RawValue(settings.c_str(), L"DEMARRAGE_AUTO", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, (std::vector<BYTE>{1, 0, 0, 0}));
    ASSERT_TRUE(RawValue(settings.c_str(), L"CHECK_UPDATES_AUTO", type, data));
    EXPECT_EQ(data, (std::vector<BYTE>{0, 0, 0, 0}));
    ASSERT_TRUE(RawValue(settings.c_str(), L"DefaultSerial", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), (12u + 1u) * 2u) << "stored with its terminating zero";

    ASSERT_TRUE(RawValue(kRunKey, FName, type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    const std::wstring command(reinterpret_cast<const wchar_t*>(data.data()));
    EXPECT_EQ(command, L"\"" + FPath + L"\"");
}

TEST(RunningExecutable, NamesTheApplication) {
    const std::wstring path = ProcessInfo::ExecutablePath();
    EXPECT_EQ(path.find(L'\\') == std::wstring::npos, false) << "a full path";
    EXPECT_EQ(RegAppName(), L"app_tests");
    EXPECT_EQ(MainSettings::GetApplicationName(), L"app_tests");
}

}  // namespace
