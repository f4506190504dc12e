// One key press on our side: an input report of the current control box through the list's
// report handler to the push-button handler, with its three trace lines written to a real
// file by the host trace writer. Per-press latency is collected so that the median and the
// 99th percentile can be read, not only the mean.

#include <benchmark/benchmark.h>

#include "MainThread.h"
#include "MemorySettingsStore.h"
#include "ProcessInfo.h"
#include "SettingsStore.h"
#include "VirtualHidBus.h"
#include "uLogs.h"
#include "uRegistry.h"
#include "uStreamDeck.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

void BM_KeyPress(benchmark::State& state) {
    MainThread::Initialize();
    const auto folder = std::filesystem::temp_directory_path() / "lumetra-keypress-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ProcessInfo::OverrideRoamingAppDataFolder(folder.wstring());
    CreateLogFolder(LogFolder());

    MemorySettingsStore store;
    SetSettingsStore(&store);
    store.PutValue(RegSettingsKeyPath(RegAppName()), L"DefaultSerial", RegStringValue(L"BENCH"));

    VirtualHidBus bus;
    bus.SetInstantSleep(true);
    bus.PlugControlBox(L"BENCH");
    {
        TSDList list(bus);
        std::int64_t pressed = 0;
        list.SetOnPushButton([&](void*, std::int32_t) { ++pressed; });
        TJvHidDevice* device = list.CurrentSD()->Device();
        std::uint8_t report[16] = {};
        report[2] = 1;
        // A key fires when it goes down: each press is followed by its release, untimed.
        const std::uint8_t released[16] = {};

        std::vector<double> micros;
        micros.reserve(1 << 16);
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            list.HIDreader(device, 1, report, sizeof report);
            const auto stop = std::chrono::steady_clock::now();
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
            list.HIDreader(device, 1, released, sizeof released);
        }
        std::sort(micros.begin(), micros.end());
        if (!micros.empty()) {
            state.counters["median_us"] = micros[micros.size() / 2];
            state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        }
        if (pressed != static_cast<std::int64_t>(state.iterations())) state.SkipWithError("lost presses");
    }
    SetSettingsStore(nullptr);
    ProcessInfo::OverrideRoamingAppDataFolder(std::nullopt);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_KeyPress)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace
