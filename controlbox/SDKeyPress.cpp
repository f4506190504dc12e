// Key presses of the current control box: a key fires the push-button event once when a
// report shows it going down, and leaves three trace lines for that press, written after
// the key-downs of the report have gone. A key held
// while other keys come and go fires nothing and writes nothing: each extra event would
// be a second time recorded for one runner.

#include "uStreamDeck.h"

#include "uLogs.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint8_t kPressed = 1;

}  // namespace

void TSDList::ForgetKeyStates() {
    FKeyStateDevice = nullptr;
    FKeyStates.fill(0);
}

void TSDList::HIDreader(TJvHidDevice* HidDev, std::uint8_t /*ReportID*/, const void* Data,
                        std::uint16_t Size) {
    // Reports of any device but the current control box's are never acted on. This is
    // asked again before each key-down: should a push-button handler remove or replace
    // the current control box, the rest of the report is not sent.
    const auto stillCurrent = [this, HidDev] {
        return FCurrentSD != nullptr && FCurrentSD->Device() == HidDev;
    };
    if (HidDev == nullptr || !stillCurrent()) return;

    // The data belongs to the read thread and is valid during this call only; keep the
    // key states before anything can run.
    std::uint8_t keys[KeyStateBytes] = {};
    if (Data != nullptr) std::memcpy(keys, Data, std::min<std::size_t>(Size, KeyStateBytes));

    // Which keys went down since the last report of this device.
    if (FKeyStateDevice != HidDev) {
        ForgetKeyStates();
        FKeyStateDevice = HidDev;
    }
    bool wentDown[KeyStateBytes] = {};
    for (std::size_t k = 0; k < KeyStateBytes; ++k) {
        wentDown[k] = keys[k] == kPressed && FKeyStates[k] != kPressed;
        FKeyStates[k] = keys[k] == kPressed ? kPressed : 0;
    }

    // The key-downs go first: nothing between the report and them writes, waits or lets
    // other work run. Each press's trace follows, with the lines its key-down wrote kept
    // in their place, so the file reads as before: "Bouton", "appuyé", the line of the
    // key-down, then the active flag.
    bool fired[KeyStateBytes] = {};
    std::vector<TTraceEntry> sent[KeyStateBytes];
    for (std::size_t k = 0; k < KeyStateBytes; ++k) {
        if (!wentDown[k] || !stillCurrent()) continue;
        const std::int32_t index = static_cast<std::int32_t>(k);
        if (FCurrentSD->Buttons() == nullptr || FCurrentSD->Buttons()->IndexOf(index) == nullptr) continue;
        fired[k] = true;
        TTraceCapture capture;
        if (FOnPushButton) FOnPushButton(this, index);
        sent[k] = capture.Take();
    }

    for (std::size_t k = 0; k < KeyStateBytes; ++k) {
        if (!wentDown[k]) continue;
        const std::wstring button = L"Bouton N\u00b0" + std::to_wstring(k + 1);
        WriteLog(L"HIDreader", button);
        if (!fired[k]) continue;
        WriteLog(L"HIDreader", button + L" appuy\u00e9");
        WriteLogLines(sent[k]);
        const bool active = FCurrentSD != nullptr && FCurrentSD->Active();
        WriteLog(L"HIDreader", button + L" ACurrentList.CurrentSD.Active " + (active ? L"-1" : L"0"));
    }
}
