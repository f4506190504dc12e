#include "Exceptions.h"
#include "MemorySettingsStore.h"
#include "ProcessInfo.h"
#include "BridgeTestSupport.h"
#include "StoreUnderTest.h"
#include "uLumetraMainSettings.h"
#include "uRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>
#include <unistd.h>

using namespace MainSettings;

namespace {

const std::wstring kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Runs each settings scenario against one store, as a program whose executable has a
// name of its own.
class SettingsScenario : public ::testing::TestWithParam<TStoreUnderTest> {
protected:
    void SetUp() override {
        SetSettingsStore(&GetParam().Store());
        Rename(UniqueName(L"LumetraTest"));
    }

    void TearDown() override {
        for (const auto& name : FNames) {
            GetParam().Forget(RegSettingsKeyPath(name));
            if (auto key = Open(kRunKey)) key->Delete(name);
        }
        SetSettingsStore(nullptr);
        ProcessInfo::OverrideExecutablePath(std::nullopt);
    }

    // Runs as if the executable were called `name`.exe, in a folder with a blank.
    void Rename(const std::wstring& name) {
        FNames.push_back(name);
        FExePath = L"C:\\Program Files\\Lumetra\\" + name + L".exe";
        ProcessInfo::OverrideExecutablePath(FExePath);
    }

    std::unique_ptr<SettingsKey> Open(const std::wstring& path) {
        std::wstring error;
        return GetParam().Store().OpenKey(path, TRegAccess::AllAccess, error);
    }

    std::optional<TRegValue> Stored(const std::wstring& path, const std::wstring& name) {
        auto key = Open(path);
        std::optional<TRegValue> value;
        if (key) EXPECT_TRUE(key->Query(name, value).Ok);
        return value;
    }
    std::optional<TRegValue> Setting(const std::wstring& name) { return Stored(OwnKey(), name); }
    std::optional<TRegValue> LogonEntry(const std::wstring& appName) { return Stored(kRunKey, appName); }
    void Plant(const std::wstring& name, const TRegValue& value) { ASSERT_TRUE(Open(OwnKey())->Set(name, value).Ok); }

    std::wstring OwnKey() { return RegSettingsKeyPath(FNames.back()); }

    std::pair<bool, bool> Load() {
        std::vector<std::pair<int, bool>> calls;
        LoadSettings([&](bool v) { calls.emplace_back(0, v); }, [&](bool v) { calls.emplace_back(1, v); });
        EXPECT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls.at(0).first, 0) << "\"Launch at Startup\" is loaded first";
        return {calls.at(0).second, calls.at(1).second};
    }

    std::vector<std::wstring> FNames;
    std::wstring FExePath;
};

TEST_P(SettingsScenario, FirstStartGivesDefaultsAndTheFirstEndAddsTheLogonEntry) {
    EXPECT_EQ(Load(), std::make_pair(true, true));
    EXPECT_EQ(RegReadString(DefaultSerial, L""), L"");
    // Reading created the key but wrote nothing into it.
    EXPECT_FALSE(Setting(DemarrageAuto));
    EXPECT_FALSE(LogonEntry(FNames.back()));

    SaveSettings(true, true);
    EXPECT_EQ(Setting(DemarrageAuto), RegDwordValue(1));
    EXPECT_EQ(Setting(CheckUpdatesAuto), RegDwordValue(1));
    EXPECT_EQ(Setting(DemarrageAuto)->Type, TRegType::Dword);
    EXPECT_EQ(LogonEntry(FNames.back()), RegStringValue(L"\"" + FExePath + L"\""));
    EXPECT_EQ(Load(), std::make_pair(true, true));
}

TEST_P(SettingsScenario, UntickingStoresAtOnceWhileTheLogonEntryWaitsForTheEnd) {
    SaveSettings(true, true);
    bool lancer = true;
    ToggleAndSave(DemarrageAuto, lancer);
    EXPECT_FALSE(lancer);
    EXPECT_EQ(Setting(DemarrageAuto), RegDwordValue(0));
    EXPECT_TRUE(LogonEntry(FNames.back())) << "the logon list changes only when the program ends";

    SaveSettings(lancer, true);
    EXPECT_FALSE(LogonEntry(FNames.back()));
    EXPECT_EQ(Load(), std::make_pair(false, true));
    SaveSettings(false, false);  // removing an entry that is already gone is no error
    EXPECT_EQ(Setting(CheckUpdatesAuto), RegDwordValue(0));

    bool check = false;
    ToggleAndSave(CheckUpdatesAuto, check);
    EXPECT_EQ(Setting(CheckUpdatesAuto), RegDwordValue(1));
}

TEST_P(SettingsScenario, ClearingTheDefaultLeavesAnEmptyStringStored) {
    ParamSaveString(DefaultSerial, L"AL12K1C01234");
    EXPECT_EQ(RegReadString(DefaultSerial, L""), L"AL12K1C01234");
    RegWriteString(DefaultSerial, L"");
    EXPECT_EQ(Setting(DefaultSerial), (TRegValue{TRegType::String, {0, 0}}));
    EXPECT_EQ(RegReadString(DefaultSerial, L"missing"), L"");
}

TEST_P(SettingsScenario, StringsKeepTheirTextAndTerminatingZero) {
    const std::wstring serial = L"N\u00b0S\u00e9rie \u0394";
    RegWriteString(DefaultSerial, serial);
    const auto stored = Setting(DefaultSerial);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Type, TRegType::String);
    EXPECT_EQ(stored->Data.size(), (serial.size() + 1) * 2);
    EXPECT_EQ(RegReadString(DefaultSerial, L""), serial);
}

TEST_P(SettingsScenario, AnotherExecutableNameKeepsItsOwnSettingsAndLogonEntry) {
    const std::wstring first = FNames.back();
    const std::wstring firstPath = FExePath;
    SaveSettings(true, false);
    RegWriteString(DefaultSerial, L"AL12K1C01234");

    Rename(UniqueName(L"LumetraOther"));
    EXPECT_EQ(Load(), std::make_pair(true, true));
    EXPECT_EQ(RegReadString(DefaultSerial, L""), L"");
    SaveSettings(false, true);
    EXPECT_FALSE(LogonEntry(FNames.back()));

    EXPECT_EQ(Stored(RegSettingsKeyPath(first), CheckUpdatesAuto), RegDwordValue(0));
    EXPECT_EQ(Stored(RegSettingsKeyPath(first), DefaultSerial), RegStringValue(L"AL12K1C01234"));
    EXPECT_EQ(LogonEntry(first), RegStringValue(L"\"" + firstPath + L"\""));
}

TEST_P(SettingsScenario, AnyNonZeroDwordReadsAsTrue) {
    const std::pair<std::uint32_t, bool> cases[] = {{0, false}, {1, true}, {2, true}, {0x100, true}, {0xFFFFFFFF, true}};
    for (const auto& [stored, expected] : cases) {
        Plant(CheckUpdatesAuto, RegDwordValue(stored));
        EXPECT_EQ(RegReadBool(CheckUpdatesAuto, !expected), expected) << stored;
    }
}

TEST_P(SettingsScenario, AValueOfAnotherTypeReadsAsMissingWithOneTraceLineAndIsRewrittenAtTheNextSave) {
    struct Case {
        const wchar_t* Name;
        TRegValue Planted;
        bool ReadAsBool;
    };
    const Case cases[] = {
        {DemarrageAuto, RegStringValue(L"1"), true},
        {CheckUpdatesAuto, TRegValue{TRegType::Binary, {1, 0, 0, 0}}, true},
        {CheckUpdatesAuto, TRegValue{TRegType::Qword, {1, 0, 0, 0, 0, 0, 0, 0}}, true},
        {DemarrageAuto, TRegValue{TRegType::Dword, {1, 0}}, true},  // too short for a DWORD
        {DefaultSerial, RegDwordValue(1), false},
        {DefaultSerial, TRegValue{TRegType::MultiString, {'A', 0, 0, 0, 0, 0}}, false},
    };
    bridgetest::Record trace;
    bridgetest::RecordingTrace recorder(trace);
    SetTraceFile(&recorder);
    for (const auto& c : cases) {
        Plant(c.Name, c.Planted);
        trace.clear();
        // Each default in turn, so that the answer cannot be the stored value by chance.
        for (const bool defaultValue : {true, false}) {
            if (c.ReadAsBool)
                EXPECT_EQ(RegReadBool(c.Name, defaultValue), defaultValue) << static_cast<int>(c.Planted.Type);
            else
                EXPECT_EQ(RegReadString(c.Name, defaultValue ? L"none" : L""), defaultValue ? L"none" : L"");
        }
        const std::wstring line = std::wstring(c.ReadAsBool ? L"log RegReadBool|" : L"log RegReadString|") +
                                  L"Invalid data type for '" + c.Name + L"'";
        EXPECT_EQ(trace, (bridgetest::Record{line, line})) << "one line per read, naming the value";
        EXPECT_EQ(Setting(c.Name), c.Planted) << "a read must not overwrite what it cannot use";
    }

    // Loading takes both booleans of another type for missing; the next save stores them
    // as DWORDs and the default serial as the empty string it was read as.
    Plant(DemarrageAuto, RegStringValue(L"0"));
    Plant(CheckUpdatesAuto, TRegValue{TRegType::Binary, {0}});
    Plant(DefaultSerial, RegDwordValue(7));
    EXPECT_EQ(Load(), std::make_pair(true, true));
    SaveSettings(true, false);
    SetTraceFile(nullptr);
    EXPECT_EQ(Setting(DemarrageAuto), RegDwordValue(1));
    EXPECT_EQ(Setting(CheckUpdatesAuto), RegDwordValue(0));
    EXPECT_EQ(Setting(DefaultSerial), RegStringValue(L""));
    EXPECT_EQ(LogonEntry(FNames.back()), RegStringValue(L"\"" + FExePath + L"\""));

    // A serial that is a string, empty or not, is the operator's and the save leaves it.
    for (const std::wstring serial : {L"AL12K1C01234", L""}) {
        RegWriteString(DefaultSerial, serial);
        SaveSettings(false, false);
        EXPECT_EQ(Setting(DefaultSerial), RegStringValue(serial));
    }
}

TEST_P(SettingsScenario, StringsFromOtherWritersEndAtTheirFirstZeroOrLastWholeUnit) {
    const std::pair<TRegValue, std::wstring> cases[] = {
        {TRegValue{TRegType::String, {'A', 0, 'B', 0}}, L"AB"},             // no terminating zero
        {TRegValue{TRegType::String, {'A', 0, 'B', 0, 'C'}}, L"AB"},        // odd byte count
        {TRegValue{TRegType::String, {'A', 0, 0, 0, 'B', 0, 0, 0}}, L"A"},  // text after the zero
        {TRegValue{TRegType::String, {}}, L""},
        {TRegValue{TRegType::ExpandString, {'%', 0, 'X', 0, 0, 0}}, L"%X"},  // taken as written
    };
    for (const auto& [planted, expected] : cases) {
        Plant(DefaultSerial, planted);
        EXPECT_EQ(RegReadString(DefaultSerial, L"default"), expected);
    }
}

TEST_P(SettingsScenario, TheKeyNameIgnoresLetterCase) {
    const std::wstring lower = L"software\\lumetra\\" + FNames.back();
    std::wstring error;
    auto key = GetParam().Store().OpenKey(lower, TRegAccess::AllAccess, error);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->Set(L"defaultserial", RegStringValue(L"X1")).Ok);
    EXPECT_EQ(RegReadString(DefaultSerial, L""), L"X1");
}

MemorySettingsStore& SharedMemoryStore() {
    static MemorySettingsStore store;
    return store;
}

INSTANTIATE_TEST_SUITE_P(Memory, SettingsScenario,
                         ::testing::Values(TStoreUnderTest{"Memory", [] () -> SettingsStore& { return SharedMemoryStore(); },
                                                           [](const std::wstring&) {}}),
                         [](const auto& info) { return info.param.Name; });

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Registry, SettingsScenario, ::testing::Values(RegistryStoreUnderTest()),
                         [](const auto& info) { return info.param.Name; });
#endif

// What only the in-memory tree can play: a user without rights on the keys.
class RefusedKeys : public ::testing::Test {
protected:
    void SetUp() override {
        SetSettingsStore(&FStore);
        ProcessInfo::OverrideExecutablePath(L"C:\\Lumetra\\Refused.exe");
    }
    void TearDown() override {
        SetSettingsStore(nullptr);
        ProcessInfo::OverrideExecutablePath(std::nullopt);
    }
    static void ExpectErrorNaming(const std::function<void()>& call, const std::wstring& name) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const ERegistryError& e) {
            EXPECT_NE(e.Message().find(L"'" + name + L"'"), std::wstring::npos) << e.what();
            EXPECT_NE(e.Message().find(L"Access is denied"), std::wstring::npos) << e.what();
        }
    }
    MemorySettingsStore FStore;
};

TEST_F(RefusedKeys, ReadsGiveTheDefaultsAndWritesFailNamingTheValue) {
    FStore.Refuse(L"Software\\Lumetra");
    EXPECT_TRUE(RegReadBool(DemarrageAuto, true));
    EXPECT_FALSE(RegReadBool(DemarrageAuto, false));
    EXPECT_EQ(RegReadString(DefaultSerial, L"none"), L"none");
    ExpectErrorNaming([] { RegWriteString(DefaultSerial, L""); }, DefaultSerial);
    ExpectErrorNaming([] { SaveSettings(true, true); }, DemarrageAuto);
    bool checked = true;
    ExpectErrorNaming([&] { ToggleAndSave(CheckUpdatesAuto, checked); }, CheckUpdatesAuto);
    EXPECT_FALSE(FStore.KeyExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
}

TEST_F(RefusedKeys, ALogonListOutOfReachFailsAfterTheSettingsAreWritten) {
    FStore.Refuse(kRunKey);
    ExpectErrorNaming([] { SaveSettings(true, false); }, L"Refused");
    ExpectErrorNaming([] { SaveSettings(false, false); }, L"Refused");
    EXPECT_EQ(FStore.Value(L"Software\\Lumetra\\Refused", CheckUpdatesAuto), RegDwordValue(0));
}

TEST(RegistryPaths, TheLogonListIsOneKeyOfTheUsersRoot) {
    MemorySettingsStore store;
    SetSettingsStore(&store);
    ProcessInfo::OverrideExecutablePath(L"C:\\Lumetra\\LumetraControlBox.exe");
    SaveSettings(true, true);
    SetSettingsStore(nullptr);
    ProcessInfo::OverrideExecutablePath(std::nullopt);
    EXPECT_EQ(store.ValueNames(kRunKey), std::vector<std::wstring>{L"LumetraControlBox"});
    EXPECT_EQ(store.Value(kRunKey, L"LumetraControlBox"), RegStringValue(L"C:\\Lumetra\\LumetraControlBox.exe"));
    EXPECT_TRUE(store.KeyExists(L"Software\\Lumetra\\LumetraControlBox"));
    EXPECT_FALSE(store.KeyExists(L""));
}

TEST(RegistryPaths, KeyPathsLoseStrayDelimiters) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\", L"Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {L"Software\\Lumetra\\App", L"Software\\Lumetra\\App"},
        {L"Software\\\\Lumetra\\", L"Software\\Lumetra"},
        {L"\\", L""},
        {L"", L""},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(RegNormalizeKeyPath(path), expected) << path;
}

TEST(RegistryPaths, ApplicationNameIsTheFileNameBeforeItsLastDot) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Program Files\\Lumetra\\LumetraControlBox.exe", L"LumetraControlBox"},
        {L"C:\\Tools\\Lumetra.Box.v2.EXE", L"Lumetra.Box.v2"},
        {L"C:\\My.Folder\\Box", L"Box"},  // a dot in a folder is not an extension
        {L"/opt/lumetra/app_tests", L"app_tests"},
        {L"LumetraControlBox.exe", L"LumetraControlBox"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(ApplicationNameOf(path), expected) << path;
    ProcessInfo::OverrideExecutablePath(L"D:\\Apps\\Timing Box.exe");
    EXPECT_EQ(RegAppName(), L"Timing Box");
    EXPECT_EQ(GetApplicationName(), L"Timing Box");
    ProcessInfo::OverrideExecutablePath(std::nullopt);
}

TEST(RegistryPaths, TheLogonCommandIsQuotedOnlyWhenThePathHasABlank) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Lumetra\\LumetraControlBox.exe", L"C:\\Lumetra\\LumetraControlBox.exe"},
        {L"C:\\Program Files\\Lumetra\\Box.exe", L"\"C:\\Program Files\\Lumetra\\Box.exe\""},
        {L"C:\\Tab\there\\Box.exe", L"\"C:\\Tab\there\\Box.exe\""},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(LogonCommand(path), expected) << path;
}

}  // namespace
