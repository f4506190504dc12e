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
#include <atomic>
#include <thread>
#include <unistd.h>
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

namespace {

// One key press end to end on the host: the input report queued on the virtual control box,
// read by the box's read thread, handed to the main thread and turned into the push-button
// event. Arg 0: quiet; arg N: another USB device (a memory stick, a phone on charge) sends
// its notices every N ms meanwhile, as on race day. The 99th percentile with notices must
// stay within 0.5 ms of the quiet one.
void BM_KeyPressWithNotices(benchmark::State& state) {
    MainThread::Initialize();
    MemorySettingsStore store;
    SetSettingsStore(&store);
    store.PutValue(RegSettingsKeyPath(RegAppName()), L"DefaultSerial", RegStringValue(L"BENCH"));
    const auto folder = std::filesystem::temp_directory_path() /
                        ("lumetra-notice-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ProcessInfo::OverrideRoamingAppDataFolder(folder.wstring());
    CreateLogFolder(LogFolder());

    VirtualHidBus bus;  // real waits: the hot-plug pass sleeps as it does on Windows
    TVirtualHidDescription keyboard;
    keyboard.Attributes = THIDDAttributes{12, 0x046D, 0xC31C, 0x0100};
    keyboard.Caps.InputReportByteLength = 9;
    bus.Plug(keyboard);
    const VirtualHidDevicePtr box = bus.PlugControlBox(L"BENCH");
    {
        TSDList list(bus);
        std::atomic<std::int64_t> pressed{0};
        list.SetOnPushButton([&](void*, std::int32_t) { ++pressed; });

        const int everyMs = static_cast<int>(state.range(0));
        std::atomic<bool> stop{false};
        std::thread noticer;
        if (everyMs > 0)
            noticer = std::thread([&] {
                while (!stop) {
                    bus.PostUsbNotices(true);
                    std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
                }
            });

        std::vector<double> micros;
        int i = 0;
        for (auto _ : state) {
            const std::int64_t before = pressed;
            // Each report shows one key down and the others up: one press each.
            std::vector<std::uint8_t> report(17, 0);
            report[0] = 1;
            report[1 + (i++ % 6)] = 1;
            const auto start = std::chrono::steady_clock::now();
            box->QueueInput(std::move(report));
            MainThread::ServeUntil([&] { return pressed > before; }, std::chrono::seconds(10));
            const auto stop = std::chrono::steady_clock::now();
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
        }
        stop = true;
        if (noticer.joinable()) noticer.join();
        std::sort(micros.begin(), micros.end());
        if (!micros.empty()) {
            state.counters["median_us"] = micros[micros.size() / 2];
            state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        }
        if (pressed != static_cast<std::int64_t>(state.iterations())) state.SkipWithError("lost presses");
        // Let the passes the last notices asked for run before the list goes.
        MainThread::ServeUntil([] { return MainThread::PendingHandOffs() == 0; }, std::chrono::seconds(5));
    }
    SetSettingsStore(nullptr);
    ProcessInfo::OverrideRoamingAppDataFolder(std::nullopt);
    std::filesystem::remove_all(folder);
}
// LUMETRA_BENCH_PRESSES overrides the number of presses (a short run where presses starve).
int BenchPresses() {
    const char* presses = std::getenv("LUMETRA_BENCH_PRESSES");
    return presses != nullptr && std::atoi(presses) > 0 ? std::atoi(presses) : 500;
}
BENCHMARK(BM_KeyPressWithNotices)->Arg(0)->Arg(10)->Iterations(BenchPresses())->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
