#include "UniqueName.h"

#include <atomic>
#include <chrono>
#include <unistd.h>

std::wstring UniqueName(const std::wstring& stem) {
    static std::atomic<int> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return stem + L"_" + std::to_wstring(getpid()) + L"_" + std::to_wstring(ticks % 1000000007) + L"_" +
           std::to_wstring(++counter);
}
