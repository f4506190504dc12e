#include "uStreamDeck.h"

// A key's picture is either the black copy it made itself or a picture someone else owns
// (the main window's default pictures, or one set through Bitmap). Only the first is ever
// freed here, so default pictures survive every control box that showed them.

TSDButton::TSDButton(TSDButtons* _Owner)
    : FOwner(_Owner), FOwnBitmap(std::make_unique<Bitmap24>()) {
    Clear();
}

TSDButton::~TSDButton() = default;

void TSDButton::Clear() {
    *FOwnBitmap = Noir80();
    FBitmap = FOwnBitmap.get();
}

void TSDButton::SetDefBitmap(const Bitmap24* Value) {
    FBitmap = Value;
}

void TSDButton::SetBitmap(const Bitmap24* Value) {
    FBitmap = Value;
    if (FOwner != nullptr && FOwner->Owner() != nullptr) FOwner->Owner()->RefreshImageButton(FId);
}

// ---------------------------------------------------------------------------------------

namespace {
// Get and Put reach only the first sixteen keys.
constexpr int kAddressableKeys = 16;
}  // namespace

TSDButtons::TSDButtons(TSD* _Owner)
    : FNbButtons(SDKeyCount(_Owner != nullptr ? _Owner->SDType() : sdtUndefined)), FOwner(_Owner) {
    FList.reserve(static_cast<std::size_t>(FNbButtons));
    for (int i = 0; i < FNbButtons; ++i) {
        auto key = std::make_unique<TSDButton>(this);
        key->FId = i;
        if (const Bitmap24* picture = DefaultBitmap(i)) key->SetDefBitmap(picture);
        FList.push_back(std::move(key));
    }
}

TSDButtons::~TSDButtons() = default;

const Bitmap24* TSDButtons::DefaultBitmap(int index) const {
    const TSDList* list = FOwner != nullptr ? FOwner->SDList() : nullptr;
    return list != nullptr ? list->GetListDefaultBitmap(index) : nullptr;
}

TSDButton* TSDButtons::Get(int Index) const {
    if (Index < 0 || Index >= kAddressableKeys || Index >= GetCount()) return nullptr;
    return FList[static_cast<std::size_t>(Index)].get();
}

void TSDButtons::Put(int Index, std::unique_ptr<TSDButton> btn) {
    if (btn == nullptr || Index < 0 || Index >= kAddressableKeys || Index >= GetCount()) return;
    FList[static_cast<std::size_t>(Index)] = std::move(btn);
}

TSDButton* TSDButtons::IndexOf(std::int32_t _IdxBtn) const {
    for (const auto& key : FList)
        if (key->Id() == _IdxBtn) return key.get();
    return nullptr;
}

void TSDButtons::ReloadDefaultBitmap() {
    for (int i = 0; i < GetCount(); ++i)
        if (const Bitmap24* picture = DefaultBitmap(i)) FList[static_cast<std::size_t>(i)]->SetDefBitmap(picture);
}
