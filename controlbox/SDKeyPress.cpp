// Key presses of the current control box: a key fires the push-button event once when a
// report shows it going down, and leaves three trace lines for that press. A key held
// while other keys come and go fires nothing and writes nothing: each extra event would
// be a second time recorded for one runner.

#include "uStreamDeck.h"

#include "uLogs.h"

#include <algorithm>
#include <cstring>

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
    // asked again after every trace line: the work a line lets run may have removed or
    // replaced the current control box, and then the rest of the report is dropped.
    const auto stillCurrent = [this, HidDev] {
        return FCurrentSD != nullptr && FCurrentSD->Device() == HidDev;
    };
    if (HidDev == nullptr || !stillCurrent()) return;

    // The data belongs to the read thread and is valid during this call only; keep the
    // key states before anything can run.
    std::uint8_t keys[KeyStateBytes] = {};
    if (Data != nullptr) std::memcpy(keys, Data, std::min<std::size_t>(Size, KeyStateBytes));

    // Which keys went down since the last report of this device. The states are stored
    // before the first trace line, which may let the next work run.
    if (FKeyStateDevice != HidDev) {
        ForgetKeyStates();
        FKeyStateDevice = HidDev;
    }
    bool wentDown[KeyStateBytes] = {};
    for (std::size_t k = 0; k < KeyStateBytes; ++k) {
        wentDown[k] = keys[k] == kPressed && FKeyStates[k] != kPressed;
        FKeyStates[k] = keys[k] == kPressed ? kPressed : 0;
    }

    for (std::size_t k = 0; k < KeyStateBytes; ++k) {
        if (!wentDown[k]) continue;
        const std::wstring button = L"Bouton N\u00b0" + std::to_wstring(k + 1);
        const std::int32_t index = static_cast<std::int32_t>(k);

        WriteLog(L"HIDreader", button);
        if (!stillCurrent()) return;
        if (FCurrentSD->Buttons() == nullptr || FCurrentSD->Buttons()->IndexOf(index) == nullptr)
            continue;

        WriteLog(L"HIDreader", button + L" appuy\u00e9");
        if (!stillCurrent()) return;
        if (FOnPushButton) FOnPushButton(this, index);
        if (!stillCurrent()) return;

        WriteLog(L"HIDreader",
                 button + L" ACurrentList.CurrentSD.Active " + (FCurrentSD->Active() ? L"-1" : L"0"));
        if (!stillCurrent()) return;
    }
}
