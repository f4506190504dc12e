#pragma once
// A control box list on a virtual bus, with in-memory settings and a captured trace.

#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "TraceFile.h"
#include "VirtualHidBus.h"
#include "uRegistry.h"
#include "uStreamDeck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Keeps every trace line as (procedure, text) and can run work inside a line, as the
// real trace does when it lets pending messages run.
class CapturedTrace : public TraceFile {
public:
    struct Line {
        std::wstring Proc;
        std::wstring Text;
    };

    TLogTime Now() override { return {2026, 12, 9, 12, 0, 0}; }
    TLogSeparators Separators() override { return {}; }
    std::vector<std::uint8_t> ToAnsi(const std::wstring& text) override {
        // Latin-1 is enough for the texts of the list ("é", "°").
        std::vector<std::uint8_t> bytes;
        for (wchar_t c : text) bytes.push_back(c < 256 ? static_cast<std::uint8_t>(c) : '?');
        return bytes;
    }
    void Append(const std::wstring&, const std::vector<std::uint8_t>& bytes) override {
        std::wstring line(bytes.begin(), bytes.end());
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        // date \t time \t proc \t text
        const auto t1 = line.find(L'\t');
        const auto t2 = line.find(L'\t', t1 + 1);
        const auto t3 = line.find(L'\t', t2 + 1);
        Lines.push_back({line.substr(t2 + 1, t3 - t2 - 1), line.substr(t3 + 1)});
        if (InsideLine) {
            auto work = std::move(InsideLine);  // once
            InsideLine = nullptr;
            work(Lines.back());
        }
    }
    void CreateFolder(const std::wstring&) override {}

    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> out;
        for (const auto& l : Lines) out.push_back(l.Proc + L"|" + l.Text);
        return out;
    }

    std::vector<Line> Lines;
    // Runs once, inside the next line written.
    std::function<void(const Line&)> InsideLine;
};

class SDListTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        Bus.SetInstantSleep(true);
        SetSettingsStore(&Store);
        SetTraceFile(&Trace);
    }
    void TearDown() override {
        List.reset();
        MainThread::ProcessMessages();
        SetTraceFile(nullptr);
        SetSettingsStore(nullptr);
    }

    void StoreDefault(const std::wstring& serial) {
        Store.PutValue(RegSettingsKeyPath(RegAppName()), L"DefaultSerial", RegStringValue(serial));
    }
    std::optional<TRegValue> StoredDefault() const {
        return Store.Value(RegSettingsKeyPath(RegAppName()), L"DefaultSerial");
    }

    void MakeList() {
        List = std::make_unique<TSDList>(Bus);
        List->SetOnChange([this](void* sender) {
            EXPECT_EQ(sender, List.get());
            Events.push_back(L"change");
        });
        List->SetOnCurrentSDChange([this](void* sender, TSD*& sd) {
            EXPECT_EQ(sender, List.get());
            Events.push_back(L"current:" + (sd ? sd->Serial() : std::wstring(L"none")));
        });
        List->SetOnPushButton([this](void* sender, std::int32_t key) {
            EXPECT_EQ(sender, List.get());
            Events.push_back(L"push:" + std::to_wstring(key));
            if (OnPush) OnPush(key);
        });
    }

    // Plugs or pulls on the bus and lets the notices it posts run, as the message loop would.
    VirtualHidDevicePtr Plug(const TVirtualHidDescription& description) {
        auto device = Bus.Plug(description);
        MainThread::ProcessMessages();
        return device;
    }
    VirtualHidDevicePtr PlugBox(const std::wstring& serial) { return Plug(VirtualControlBoxDescription(serial)); }
    void Unplug(const VirtualHidDevicePtr& device) {
        Bus.Unplug(device);
        MainThread::ProcessMessages();
    }

    std::vector<std::wstring> Serials() const {
        std::vector<std::wstring> out;
        for (int i = 0; i < List->Count(); ++i) out.push_back(List->Get(i)->Serial());
        return out;
    }
    std::wstring Current() const { return List->CurrentSD() ? List->CurrentSD()->Serial() : L"none"; }

    // Output reports are key pictures, 20 per key.
    static std::size_t PicturesWritten(const VirtualHidDevicePtr& device) {
        return device->OutputReports().size() / 20;
    }

    VirtualHidBus Bus;
    MemorySettingsStore Store;
    CapturedTrace Trace;
    std::unique_ptr<TSDList> List;
    std::vector<std::wstring> Events;
    std::function<void(std::int32_t)> OnPush;
};
