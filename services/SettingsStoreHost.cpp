#include "MemorySettingsStore.h"

// The host build has no registry: its settings live in memory for the life of the process.
SettingsStore& PlatformSettingsStore() {
    static MemorySettingsStore store;
    return store;
}
