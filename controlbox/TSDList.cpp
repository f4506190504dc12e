#include "uStreamDeck.h"

TSDList::TSDList() = default;

TSDList::~TSDList() = default;

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
