#include "Bitmap24.h"

#include <windows.h>

Bitmap24 Bitmap24::LoadFromResource(const std::wstring& name) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    if (info == nullptr) throw EInvalidGraphic(L"Bitmap resource \"" + name + L"\" not found");
    HGLOBAL handle = LoadResource(module, info);
    const DWORD size = SizeofResource(module, info);
    const void* bytes = handle != nullptr ? LockResource(handle) : nullptr;
    if (bytes == nullptr || size == 0)
        throw EInvalidGraphic(L"Bitmap resource \"" + name + L"\" cannot be read");
    // Resources stay mapped for the life of the module; nothing to release.
    try {
        return LoadFromBmp(static_cast<const std::uint8_t*>(bytes), size);
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(e.Message() + L" in resource \"" + name + L"\"");
    }
}
