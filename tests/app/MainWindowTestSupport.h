#pragma once
// What the main window tests stand on: a scripted control box list that keeps the list's
// rules (the current control box is the default one while it is connected; events in the
// list's order) and records what reaches the control boxes, an in-memory settings store
// and a recorded trace.

#include "BridgeTestSupport.h"
#include "MemorySettingsStore.h"
#include "ProcessInfo.h"
#include "SDListPort.h"
#include "SettingsStore.h"
#include "TextUtils.h"
#include "uLumetraMain.h"
#include "uLogs.h"
#include "uLumetraMainSettings.h"
#include "uRegistry.h"

#include <memory>
#include <string>
#include <vector>

namespace mainwindowtest {

using bridgetest::Record;

class ScriptedSDList : public TSDListPort {
public:
    struct Box {
        std::wstring Model = L"Stream Deck Mini";
        std::wstring Serial;
        bool Default = false;
    };

    explicit ScriptedSDList(Record& record) : FRecord(record) {}

    // Plugging and pulling, as the list's hot-plug handlers do it.
    void Plug(const std::wstring& serial) {
        Boxes.push_back(std::make_unique<Box>(Box{L"Stream Deck Mini", serial, false}));
        // The stored default becomes current (raising the current-change event) before the
        // change event, as the list does it.
        SetDefaultSerialList(RegReadString(MainSettings::DefaultSerial, L""));
        if (OnChange)
            OnChange(this);
    }
    void Unplug(const std::wstring& serial) {
        for (std::size_t i = 0; i < Boxes.size(); ++i)
            if (Boxes[i]->Serial == serial) {
                if (FCurrent == Boxes[i].get())
                    FCurrent = nullptr;
                Boxes.erase(Boxes.begin() + static_cast<std::ptrdiff_t>(i));
                ConnectDefault();
                if (OnChange)
                    OnChange(this);
                void* sd = FCurrent;
                if (OnCurrentSDChange)
                    OnCurrentSDChange(this, sd);
                return;
            }
    }

    void SetActive(bool Value) override { FRecord.push_back(Value ? L"active 1" : L"active 0"); }
    int Count() override { return static_cast<int>(Boxes.size()); }
    void* Item(int Index) override {
        return Index >= 0 && Index < Count() ? Boxes[static_cast<std::size_t>(Index)].get() : nullptr;
    }
    std::wstring Model(void* sd) override { return static_cast<Box*>(sd)->Model; }
    std::wstring Serial(void* sd) override { return static_cast<Box*>(sd)->Serial; }
    bool DefaultSD(void* sd) override { return static_cast<Box*>(sd)->Default; }
    void* CurrentSD() override { return FCurrent; }
    int GetDefaultSerialListIndex() override {
        for (int i = 0; i < Count(); ++i)
            if (Boxes[static_cast<std::size_t>(i)]->Default)
                return i;
        return -1;
    }
    std::wstring GetDefaultSerialList() override {
        const int i = GetDefaultSerialListIndex();
        return i < 0 ? L"" : Boxes[static_cast<std::size_t>(i)]->Serial;
    }
    void SetDefaultSerialList(const std::wstring& value) override {
        Box* found = nullptr;
        for (auto& box : Boxes)
            if (SameTextAscii(box->Serial, value))
                found = box.get();
        if (!found)
            return;
        for (auto& box : Boxes)
            box->Default = box.get() == found;
        void* before = FCurrent;
        FCurrent = found;
        FRecord.push_back(L"images " + found->Serial);
        if (FCurrent != before && OnCurrentSDChange) {
            void* sd = FCurrent;
            OnCurrentSDChange(this, sd);
        }
    }
    void ClearDefault() override {
        for (auto& box : Boxes)
            box->Default = false;
        FCurrent = nullptr;
        if (OnCurrentSDChange) {
            void* sd = nullptr;
            OnCurrentSDChange(this, sd);
        }
        RegWriteString(MainSettings::DefaultSerial, L"");
    }
    void RAZ() override {
        if (FCurrent)
            FRecord.push_back(L"reset " + static_cast<Box*>(FCurrent)->Serial);
    }
    void CheckChanged() override {
        FRecord.push_back(L"check");
        for (const std::wstring& serial : PendingPlugs)
            Plug(serial);
        PendingPlugs.clear();
    }
    void AddDefaultBitmap(const Bitmap24* bitmap) override { DefaultBitmaps.push_back(bitmap); }
    void RefreshDefaultBitmap() override {
        if (FCurrent)
            FRecord.push_back(L"default pictures");
    }
    void RefreshImageButtons() override {
        if (FCurrent)
            FRecord.push_back(L"images " + static_cast<Box*>(FCurrent)->Serial);
    }
    void SetBrigtness(int value) override {
        if (FCurrent)
            FRecord.push_back(L"brightness " + std::to_wstring(value));
    }

    std::vector<std::unique_ptr<Box>> Boxes;
    std::vector<const Bitmap24*> DefaultBitmaps;
    // Control boxes that the next CheckChanged finds.
    std::vector<std::wstring> PendingPlugs;

private:
    void ConnectDefault() {
        FCurrent = nullptr;
        for (auto& box : Boxes)
            if (box->Default)
                FCurrent = box.get();
    }

    Record& FRecord;
    void* FCurrent = nullptr;
};

// Settings in memory under a fixed application name, a recorded trace, and a list made
// with the given control boxes plugged before the window's creation steps run.
class Environment {
public:
    Environment() : Trace(Events) {
        MainThread::Initialize();
        SetSettingsStore(&Store);
        SetTraceFile(&Trace);
        ProcessInfo::OverrideExecutablePath(ExePath);
        ProcessInfo::OverrideRoamingAppDataFolder(AppData);
    }
    ~Environment() {
        MainThread::ProcessMessages();
        SetTraceFile(nullptr);
        SetSettingsStore(nullptr);
        ProcessInfo::OverrideExecutablePath(std::nullopt);
        ProcessInfo::OverrideRoamingAppDataFolder(std::nullopt);
    }

    std::optional<TRegValue> Setting(const std::wstring& name) const {
        return Store.Value(L"Software\\Lumetra\\LumetraControlBox", name);
    }
    std::optional<TRegValue> LogonEntry() const {
        return Store.Value(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"LumetraControlBox");
    }
    void StoreDefault(const std::wstring& serial) { RegWriteString(MainSettings::DefaultSerial, serial); }

    // The services of a window whose list starts with `serials` plugged in. The list is
    // kept in List while the window owns it.
    TfrmMainServices Services(DesktopWindows& desktop, std::vector<std::wstring> serials) {
        TfrmMainServices services;
        services.Desktop = &desktop;
        services.CreateSDList = [this, serials] {
            auto list = std::make_unique<ScriptedSDList>(Events);
            for (const std::wstring& serial : serials)
                list->Plug(serial);
            List = list.get();
            return list;
        };
        return services;
    }

    // The trace lines only, as "procedure|text": those still with the trace's writer are
    // written first.
    std::vector<std::wstring> LogLines() const {
        FlushTrace(std::chrono::seconds(5));
        std::vector<std::wstring> lines;
        for (const std::wstring& e : Events)
            if (e.rfind(L"log ", 0) == 0)
                lines.push_back(e.substr(4));
        return lines;
    }

#ifdef _WIN32
    const std::wstring ExePath = L"C:\\Lumetra\\LumetraControlBox.exe";
    const std::wstring AppData = L"C:\\Lumetra\\AppData";
#else
    const std::wstring ExePath = L"/tmp/lumetra/LumetraControlBox";
    const std::wstring AppData = L"/tmp/lumetra/appdata";
#endif
    Record Events;
    bridgetest::RecordingTrace Trace;
    MemorySettingsStore Store;
    ScriptedSDList* List = nullptr;  // owned by the window
};

inline std::wstring StringOf(const std::optional<TRegValue>& value) {
    return value ? RegStringFromValue(L"value", *value) : L"<missing>";
}

}  // namespace mainwindowtest
