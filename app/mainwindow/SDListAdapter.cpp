#include "SDListAdapter.h"

#include "uStreamDeck.h"

TSDListAdapter::TSDListAdapter(HidPlatform& platform) : FList(std::make_unique<TSDList>(platform)) {
    // Set after the list is built: what it raised while enumerating reached no handler.
    FList->SetOnCurrentSDChange([this](void* _Sender, TSD*& _SD) {
        if (OnCurrentSDChange) {
            void* sd = _SD;
            OnCurrentSDChange(_Sender, sd);
        }
    });
    FList->SetOnPushButton([this](void* _Sender, std::int32_t _IdButton) {
        if (OnPushButton)
            OnPushButton(_Sender, _IdButton);
    });
    FList->SetOnChange([this](void* _Sender) {
        if (OnChange)
            OnChange(_Sender);
    });
}

// Freeing the list resets the current control box and releases the devices.
TSDListAdapter::~TSDListAdapter() = default;

void TSDListAdapter::SetActive(bool Value) { FList->SetActive(Value); }
int TSDListAdapter::Count() { return FList->Count(); }
void* TSDListAdapter::Item(int Index) { return FList->List(Index); }
std::wstring TSDListAdapter::Model(void* _SD) { return _SD ? static_cast<TSD*>(_SD)->Model() : std::wstring(); }
std::wstring TSDListAdapter::Serial(void* _SD) { return _SD ? static_cast<TSD*>(_SD)->Serial() : std::wstring(); }
bool TSDListAdapter::DefaultSD(void* _SD) { return _SD && static_cast<TSD*>(_SD)->DefaultSD(); }
void* TSDListAdapter::CurrentSD() { return FList->CurrentSD(); }
int TSDListAdapter::GetDefaultSerialListIndex() { return FList->GetDefaultSerialListIndex(); }
std::wstring TSDListAdapter::GetDefaultSerialList() { return FList->GetDefaultSerialList(); }
void TSDListAdapter::SetDefaultSerialList(const std::wstring& _Value) { FList->SetDefaultSerialList(_Value); }
void TSDListAdapter::ClearDefault() { FList->ClearDefault(); }
void TSDListAdapter::RAZ() { FList->RAZ(); }
void TSDListAdapter::CheckChanged() { FList->CheckChanged(); }
void TSDListAdapter::AddDefaultBitmap(const Bitmap24* _Bitmap) { FList->AddDefaultBitmap(_Bitmap); }
void TSDListAdapter::RefreshDefaultBitmap() { FList->RefreshDefaultBitmap(); }
void TSDListAdapter::RefreshImageButtons() { FList->Refresh(); }

void TSDListAdapter::SetBrigtness(int _Value) {
    if (TSD* sd = FList->CurrentSD())
        sd->SetBrigtness(_Value);
}
