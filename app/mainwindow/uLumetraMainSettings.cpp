#include "uLumetraMainSettings.h"

#include "ProcessInfo.h"
#include "uRegistry.h"

namespace MainSettings {

std::wstring GetApplicationName() { return CurrentApplicationName(); }

void LoadSettings(const std::function<void(bool)>& setLancerAuDemarrage,
                  const std::function<void(bool)>& setAlwaysCheckUpdates) {
    setLancerAuDemarrage(RegReadBool(DemarrageAuto, true));
    setAlwaysCheckUpdates(RegReadBool(CheckUpdatesAuto, true));
}

void ParamSaveBool(const std::wstring& _Param, bool Value) {
    RegSet(RegSettingsKeyPath(GetApplicationName()), TRegAccess::AllAccess, _Param, RegDwordValue(Value ? 1 : 0));
}

void ParamSaveString(const std::wstring& _Param, const std::wstring& Value) {
    RegSet(RegSettingsKeyPath(GetApplicationName()), TRegAccess::AllAccess, _Param, RegStringValue(Value));
}

void ToggleAndSave(const std::wstring& _Param, bool& checked) {
    checked = !checked;
    ParamSaveBool(_Param, checked);
}

void SaveSettings(bool lancerAuDemarrage, bool alwaysCheckUpdates) {
    ParamSaveBool(DemarrageAuto, lancerAuDemarrage);
    ParamSaveBool(CheckUpdatesAuto, alwaysCheckUpdates);
    const std::wstring appName = GetApplicationName();
    if (lancerAuDemarrage)
        RegSet(RunKeyPath, TRegAccess::Write, appName, RegStringValue(LogonCommand(ProcessInfo::ExecutablePath())));
    else
        RegDelete(RunKeyPath, TRegAccess::Write, appName);
}

std::wstring LogonCommand(const std::wstring& path) {
    if (path.find_first_of(L" \t") == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

}  // namespace MainSettings
