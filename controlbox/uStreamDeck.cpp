#include "uStreamDeck.h"

#include <algorithm>
#include <vector>

#include "JvHidDevice.h"
#include "SDImageEncoder.h"

TSDType SDTypeOfProduct(std::uint16_t productId) {
    for (const TSDModelInfo& m : SDModels)
        if (m.ProductID == productId) return m.Type;
    return sdtUndefined;
}

int SDKeyCount(TSDType type) {
    for (const TSDModelInfo& m : SDModels)
        if (m.Type == type) return m.Keys;
    return 1;
}

const Bitmap24& Noir80() {
    static const Bitmap24 black(SDImageEncoder::kSide, SDImageEncoder::kSide);
    return black;
}

// ---------------------------------------------------------------------------------------

TSD::TSD(TSDList* _Owner, TJvHidDevice* _Device) : FEncoder(std::make_unique<SDImageEncoder>()) {
    if (_Device != nullptr) {
        sdType = SDTypeOfProduct(_Device->Attributes().ProductID);
        if (const TJvHidPnPInfo* pnp = _Device->PnPInfo())
            FId = static_cast<std::int32_t>(pnp->DeviceID());
        FSerial = _Device->SerialNumber();
        FVendor = _Device->VendorName();
        FModel = _Device->ProductName();
        FVID = _Device->Attributes().VendorID;
        FPID = _Device->Attributes().ProductID;
    }
    FDevice = _Device;
    FActive = _Owner != nullptr && _Owner->Active();
    FSDList = _Owner;
    // Last: the key set reads the model and the list's default pictures.
    FButtons = std::make_unique<TSDButtons>(this);
}

TSD::~TSD() {
    FButtons.reset();
}

void TSD::SendFeature(const std::uint8_t* fields, std::size_t count) {
    if (FDevice == nullptr) return;
    const std::size_t length = FDevice->Caps().FeatureReportByteLength;
    // A device whose feature reports cannot hold ours (or whose capabilities could not be
    // read) would only get a cut report; send none.
    if (length < count) return;
    std::vector<std::uint8_t> report(length, 0);
    std::copy(fields, fields + count, report.begin());
    FDevice->SetFeature(report.data(), static_cast<std::uint32_t>(length));
}

void TSD::RAZ() {
    static constexpr std::uint8_t kReset[] = {0x0B, 0x63};
    SendFeature(kReset, sizeof kReset);
}

void TSD::SetBrigtness(int _Value) {
    if (_Value < 0)
        throw ERangeError(L"Range check error: brightness " + std::to_wstring(_Value));
    const std::uint8_t report[] = {0x05, 0x55, 0xAA, 0xD1, 0x01,
                                   static_cast<std::uint8_t>(_Value % 101)};
    SendFeature(report, sizeof report);
}

void TSD::SetActive(bool Value) {
    FActive = Value;
    RefreshImageButtons();
}

void TSD::RefreshImageButtons() {
    const int count = FButtons->Count();
    for (int i = 0; i < count; ++i) RefreshImageButton(i);
}

void TSD::RefreshImageButton(int Index) {
    if (Index < 0 || Index > 0xFFFF)
        throw ERangeError(L"Range check error: key " + std::to_wstring(Index));
    // The list's flag decides, not this control box's own copy of it.
    const bool grey = FSDList == nullptr || !FSDList->Active();
    const TSDButton* key = FButtons->Get(Index);
    if (key == nullptr) return;
    WriteImageButton(Index, key->Bitmap(), grey);
}

void TSD::WriteImageButton(int _Index, const Bitmap24* _Bitmap, bool _Grey) {
    if (FDevice == nullptr || _Bitmap == nullptr) return;
    // Failed writes are not retried: the rest of the picture, and the other keys, still go.
    FEncoder->Send(*_Bitmap, _Grey, _Index, [this](const std::uint8_t* data, std::uint32_t size) {
        std::uint32_t written = 0;
        FDevice->WriteFile(data, size, written);
    });
}
