#include "SettingsStore.h"

#include <atomic>

namespace {

std::atomic<SettingsStore*>& Installed() {
    static std::atomic<SettingsStore*> store{nullptr};
    return store;
}

}  // namespace

SettingsStore& CurrentSettingsStore() {
    if (SettingsStore* store = Installed().load()) return *store;
    return PlatformSettingsStore();
}

void SetSettingsStore(SettingsStore* store) { Installed().store(store); }
