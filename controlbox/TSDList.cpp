#include "uStreamDeck.h"

#include "TextUtils.h"
#include "uLogs.h"
#include "uRegistry.h"

#include <algorithm>

namespace {

constexpr std::uint16_t kElgatoVendorID = 0x0FD9;
constexpr std::uint16_t kSixKeyProductID = 0x0063;
constexpr std::uint16_t kSixKeyLaterProductID = 0x0090;
constexpr const wchar_t* kDefaultSerialValue = L"DefaultSerial";

}  // namespace

TSDList::TSDList(HidPlatform& platform) {
    FHidController = std::make_unique<TqvHIDController>(platform);
    FHidController->SetOnPlugged([this](TqvHIDDevice* dev) { HIDPlugged(dev); });
    FHidController->SetOnUnPlugged([this](TqvHIDDevice* dev) { HIDUnPlugged(dev); });
    FHidController->SetOnDeviceData(
        [this](TJvHidDevice* dev, std::uint8_t id, const void* data, std::uint16_t size) {
            HIDreader(dev, id, data, size);
        });
    FHidController->SetOnDeviceDataError(
        [this](TJvHidDevice* dev, std::uint32_t error) { HIDDataError(dev, error); });
    FHidController->CheckChanged(true);
}

TSDList::~TSDList() {
    if (FCurrentSD != nullptr) FCurrentSD->RAZ();
    // Stopping the read threads below still serves their pending hand-offs; with the
    // handlers gone and no current control box, those find nothing to act on.
    FHidController->SetOnPlugged(nullptr);
    FHidController->SetOnUnPlugged(nullptr);
    FHidController->SetOnDeviceData(nullptr);
    FHidController->SetOnDeviceDataError(nullptr);
    PutCurrentSD(nullptr);
    FList.clear();
    FListDefaultBitmap.clear();
    FHidController.reset();
}

// We admit more than the first six-key box on purpose: the boxes sold later report
// product id 0x0090 and are the same keypad (80 x 80 keys, the same reports), so an
// operator who bought one recently gets it listed like the older 0x0063. The 15- and
// 32-key models and every other id stay out.
bool TSDList::IsSDMini(const TJvHidDevice* device) {
    if (device == nullptr || device->Attributes().VendorID != kElgatoVendorID) return false;
    const std::uint16_t product = device->Attributes().ProductID;
    return product == kSixKeyProductID || product == kSixKeyLaterProductID;
}

void TSDList::HIDPlugged(TqvHIDDevice* HidDev) {
    if (HidDev == nullptr || !IsSDMini(HidDev->Device)) return;
    const int listed = IndexOf(HidDev->Serial);
    if (listed != -1) {
        // A box pulled and plugged in again within one pass is announced before its old
        // device leaves: the entry over the gone device gives way to the live one, or the
        // box would end unlisted. A listed box whose device is still there keeps its place
        // (the newcomer is a second device with the same serial).
        const TSD* old = FList[static_cast<std::size_t>(listed)].get();
        if (old->Device() != nullptr && old->Device()->IsPluggedIn()) return;
        if (FCurrentSD == old) PutCurrentSD(nullptr);
        RemoveAt(listed);
    }
    Add(HidDev->Device);
    if (HidDev->Device->InputBuffersRefused()) TraceTrouble(HidDev->Serial, L"tampon de 512 rapports refus\u00e9");
    if (HidDev->Device->SizesUnknown()) TraceTrouble(HidDev->Serial, L"tailles des rapports illisibles");
    // An empty stored default means no default: it must not pick a box without a serial.
    const std::wstring stored = GetDefaultSerialBDR();
    if (!stored.empty()) SetDefaultSerialList(stored);
    const bool switched = ConnectDefaultSD();
    if (FOnChange) FOnChange(this);
    if (switched) DoCurrentSDChange();
}

void TSDList::HIDUnPlugged(TqvHIDDevice* HidDev) {
    if (HidDev == nullptr || !IsSDMini(HidDev->Device)) return;
    // Matched by the device object, not by a second read of the serial: that read may
    // differ from the one the box made at its arrival (it failed for a moment, or the
    // pulled device is the ignored twin of a listed serial in another letter case), and
    // then the wrong box would go, or none while its device object is freed.
    const int index = IndexOfDevice(HidDev->Device);
    if (index == -1) return;
    if (FCurrentSD == FList[static_cast<std::size_t>(index)].get()) PutCurrentSD(nullptr);
    RemoveAt(index);
    ConnectDefaultSD();
    if (FOnChange) FOnChange(this);
    DoCurrentSDChange();
}

void TSDList::TraceTrouble(const std::wstring& serial, const std::wstring& what) {
    const std::wstring key = serial + L"|" + what;
    if (std::find(FTracedTrouble.begin(), FTracedTrouble.end(), key) != FTracedTrouble.end()) return;
    FTracedTrouble.push_back(key);
    WriteLog(L"HIDPlugged", L"N\u00b0Serie " + serial + L" : " + what);
}

void TSDList::HIDDataError(TJvHidDevice* device, std::uint32_t error) {
    // A pulled box's read fails once or twice before its removal is handled; a box whose
    // reads keep failing while it is plugged in is worth one line.
    constexpr int kFailuresWorthATrace = 3;
    if (device == nullptr || !device->IsPluggedIn() || device->ConsecutiveReadFailures() < kFailuresWorthATrace) return;
    const int index = IndexOfDevice(device);
    if (index == -1) return;
    TraceTrouble(FList[static_cast<std::size_t>(index)]->Serial(),
                 L"lecture en \u00e9chec (erreur " + std::to_wstring(error) + L"), r\u00e9ouverture");
}

int TSDList::IndexOfDevice(const TJvHidDevice* device) const {
    for (std::size_t i = 0; i < FList.size(); ++i)
        if (FList[i]->Device() == device) return static_cast<int>(i);
    return -1;
}

void TSDList::PutCurrentSD(TSD* sd) { FCurrentSD = sd; }

void TSDList::RemoveAt(int index) {
    if (index < 0 || index >= GetCount()) return;
    FList.erase(FList.begin() + index);
}

bool TSDList::ConnectDefaultSD() {
    TSD* defaultSD = GetDefaultSD();
    if (defaultSD == FCurrentSD) return false;
    if (defaultSD != nullptr) {
        PutCurrentSD(defaultSD);
        WriteLog(L"ConnectDefaultSD", L"Connect\u00e9 au N\u00b0Serie " + defaultSD->Serial());
        // Work run by the log line may have changed the current control box.
        if (FCurrentSD != nullptr) FCurrentSD->RefreshImageButtons();
        return true;
    }
    WriteLog(L"ConnectDefaultSD", L"pas de SD par default");
    PutCurrentSD(nullptr);
    return false;
}

void TSDList::SetCurrentSD(TSD* Value) {
    const TSD* old = FCurrentSD;
    PutCurrentSD(Value);
    ConnectDefaultSD();
    if (FCurrentSD != nullptr) FCurrentSD->RefreshImageButtons();
    if (FCurrentSD != old) DoCurrentSDChange();
}

void TSDList::DoCurrentSDChange() {
    if (!FOnSDCurrentChange) return;
    TSD* current = FCurrentSD;
    FOnSDCurrentChange(this, current);
}

void TSDList::SetDefaultSerialList(const std::wstring& _Value) {
    const int index = IndexOf(_Value);
    if (index == -1) return;
    for (const auto& sd : FList) sd->FDefaultSD = SameTextAscii(sd->Serial(), _Value);
    SetCurrentSD(FList[static_cast<std::size_t>(index)].get());
}

void TSDList::ClearDefault() {
    for (const auto& sd : FList) sd->FDefaultSD = false;
    PutCurrentSD(nullptr);
    DoCurrentSDChange();
    RegWriteString(kDefaultSerialValue, L"");
}

void TSDList::SetDefaultIndex(std::int32_t Value) {
    ClearDefault();
    if (TSD* sd = Get(Value)) sd->FDefaultSD = true;
    FDefaultIdx = Value;
}

TSD* TSDList::GetDefaultSD() const {
    for (const auto& sd : FList)
        if (sd->DefaultSD()) return sd.get();
    return nullptr;
}

int TSDList::GetDefaultSerialListIndex() const {
    for (std::size_t i = 0; i < FList.size(); ++i)
        if (FList[i]->DefaultSD()) return static_cast<int>(i);
    return -1;
}

std::wstring TSDList::GetDefaultSerialList() const {
    const TSD* sd = GetDefaultSD();
    return sd != nullptr ? sd->Serial() : std::wstring();
}

std::wstring TSDList::GetDefaultSerialBDR() const {
    return RegReadString(kDefaultSerialValue, L"");
}

TSD* TSDList::Add(TJvHidDevice* _Device) {
    FList.push_back(std::make_unique<TSD>(this, _Device));
    return FList.back().get();
}

int TSDList::IndexOf(const std::wstring& _Serial) const {
    for (std::size_t i = 0; i < FList.size(); ++i)
        if (SameTextAscii(FList[i]->Serial(), _Serial)) return static_cast<int>(i);
    return -1;
}

TSD* TSDList::Get(int Index) const {
    if (Index < 0 || Index >= GetCount()) return nullptr;
    return FList[static_cast<std::size_t>(Index)].get();
}

void TSDList::CheckChanged() {
    FHidController->CheckChanged(true);
}

void TSDList::AddDefaultBitmap(const Bitmap24* _Bitmap) {
    FListDefaultBitmap.push_back(_Bitmap);
}

const Bitmap24* TSDList::GetListDefaultBitmap(int Index) const {
    if (Index < 0 || Index >= static_cast<int>(FListDefaultBitmap.size())) return nullptr;
    return FListDefaultBitmap[static_cast<std::size_t>(Index)];
}

void TSDList::PutListDefaultBitmap(int Index, const Bitmap24* Value) {
    if (Index < 0 || Index >= static_cast<int>(FListDefaultBitmap.size())) return;
    FListDefaultBitmap[static_cast<std::size_t>(Index)] = Value;
}

void TSDList::SetActive(bool Value) {
    FActive = Value;
    if (FCurrentSD != nullptr) FCurrentSD->SetActive(Value);
}

void TSDList::RAZ() {
    if (FCurrentSD != nullptr) FCurrentSD->RAZ();
}

void TSDList::Refresh() {
    if (FCurrentSD != nullptr) FCurrentSD->RefreshImageButtons();
}

void TSDList::RefreshDefaultBitmap() {
    // Every listed box, not only the current one: a box listed before the default pictures
    // were handed over would otherwise keep black keys when it later becomes the default.
    for (const auto& sd : FList)
        if (sd->Buttons() != nullptr) sd->Buttons()->ReloadDefaultBitmap();
}
