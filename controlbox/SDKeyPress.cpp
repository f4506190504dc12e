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

void TSDList::HIDreader(TJvHidDevice* HidDev, std::uint8_t ReportID, const void* Data,
                        std::uint16_t Size) {
    // Reports of any device but the current control box's are never acted on. This is
    // asked again before each key-down: should a push-button handler remove or replace
    // the current control box, the rest of the report is not sent.
    const auto stillCurrent = [this, HidDev] {
        return FCurrentSD != nullptr && FCurrentSD->Device() == HidDev;
    };
    const int index = HidDev != nullptr ? IndexOfDevice(HidDev) : -1;
    if (index == -1) return;
    TSD* sd = FList[static_cast<std::size_t>(index)].get();

    // Only a whole key report says which keys are up. A report of another id, or one cut
    // short, would count the keys it does not carry as released, and a key held through it
    // would fire a second time: it changes nothing.
    const std::size_t keyCount = static_cast<std::size_t>(std::max(1, SDKeyCount(sd->sdType)));
    if (ReportID != KeyReportId || Data == nullptr || Size < keyCount) return;

    // The data belongs to the read thread and is valid during this call only; keep the
    // key states before anything can run.
    std::uint8_t keys[KeyStateBytes] = {};
    std::memcpy(keys, Data, std::min<std::size_t>(Size, KeyStateBytes));

    // Which keys went down since the last report of this box. Every listed box keeps its
    // states, current or not: a key held while the box becomes current does not fire until
    // it is released and pressed again, and a key released meanwhile fires at its next press.
    // The states are stored before anything else is done with the report.
    bool wentDown[KeyStateBytes] = {};
    for (std::size_t k = 0; k < KeyStateBytes; ++k) {
        wentDown[k] = keys[k] == kPressed && sd->FKeyStates[k] != kPressed;
        sd->FKeyStates[k] = keys[k] == kPressed ? kPressed : 0;
    }
    // The box reads again: its trouble may be traced again when it comes back.
    if (!FTracedTrouble.empty()) {
        const std::wstring prefix = sd->Serial() + L"|";
        std::erase_if(FTracedTrouble, [&](const std::wstring& key) { return key.starts_with(prefix); });
    }
    if (!stillCurrent()) return;

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
