#pragma once
// The settings stores the settings tests run against: the in-memory tree in both builds,
// and the real registry of the current user in the Windows build.

#include "SettingsStore.h"
#include "UniqueName.h"

#include <functional>
#include <ostream>
#include <memory>
#include <string>

struct TStoreUnderTest {
    std::string Name;
    // The store to install; Forget removes a key the test created, with its subkeys.
    std::function<SettingsStore&()> Store;
    std::function<void(const std::wstring& path)> Forget;
};

inline void PrintTo(const TStoreUnderTest& store, std::ostream* out) { *out << store.Name; }

#ifdef _WIN32
// The current user's registry (RegistryTestWin32.cpp).
TStoreUnderTest RegistryStoreUnderTest();
#endif
