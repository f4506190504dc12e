#pragma once
// A name no other test process uses at the same time: tests run side by side in one
// registry and one roaming folder, so each one works under a name of its own.

#include <atomic>
#include <chrono>
#include <string>
#include <unistd.h>

inline std::wstring UniqueName(const std::wstring& stem) {
    static std::atomic<int> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return stem + L"_" + std::to_wstring(getpid()) + L"_" + std::to_wstring(ticks % 1000000007) + L"_" +
           std::to_wstring(++counter);
}
