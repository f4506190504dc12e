// Key presses while a release is unpacked: a read thread hands a "press" to the main
// thread every 2 ms (as a control box's read thread does with MainThread::Synchronize)
// while the main thread installs a cabinet, and the time each hand-off waits to be served
// is recorded.
//
//   install_bench.exe CABINET FOLDER main|engine|idle [ROUNDS]
//
// "main" unpacks with the cabinet library on the main thread itself, as the installation
// did before its file work moved to a worker; "engine" installs through the update engine
// (TWebUpdate::ExtractCabinet), whose file work runs on a worker while the main thread
// serves its hand-offs; "idle" installs nothing and serves hand-offs for as long as one
// "engine" round takes, for the figures of the same machine under the same load. Each
// mode runs ROUNDS installations (5 by default) one after the other.
// prints: mode=M seconds=S presses=N p50_us=A p99_us=B max_us=C

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "MainThread.h"
#include "UpdateArchives.h"
#include "UpdateFileSystem.h"
#include "UpdateInstall.h"
#include "WUpdate.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: install_bench CABINET FOLDER main|engine|idle [ROUNDS]\n");
        return 2;
    }
    const std::wstring cabinet = argv[1];
    std::wstring folder = argv[2];
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    const std::wstring mode = argv[3];
    const int rounds = argc == 5 ? _wtoi(argv[4]) : 5;
    MainThread::Initialize();

    using TClock = std::chrono::steady_clock;
    std::atomic<bool> stop{false};
    std::vector<double> waits;  // microseconds, written by the read thread only
    std::thread reader([&] {
        while (!stop.load()) {
            const TClock::time_point asked = TClock::now();
            MainThread::Synchronize([] {});
            waits.push_back(std::chrono::duration<double, std::micro>(TClock::now() - asked).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    const TClock::time_point start = TClock::now();
    bool ok = true;
    for (int round = 0; ok && round < rounds; ++round) {
        if (mode == L"main") {
            std::vector<std::wstring> written;
            ok = ExtractCabinetFiles(cabinet, folder, SystemFileSystem(), kMaxCabinetOutputBytes, written);
        } else if (mode == L"engine") {
            TWebUpdate engine;
            ok = engine.ExtractCabinet(cabinet, folder) == 0;
        } else {
            MainThread::ServeUntil([] { return false; }, std::chrono::milliseconds(400));
        }
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    stop.store(true);
    MainThread::WaitFor(reader);
    if (!ok) {
        std::fprintf(stderr, "installation failed\n");
        return 1;
    }
    std::sort(waits.begin(), waits.end());
    auto at = [&](double q) {
        return waits.empty() ? 0.0 : waits[std::min(waits.size() - 1, static_cast<std::size_t>(q * waits.size()))];
    };
    std::printf("mode=%ls seconds=%.2f presses=%zu p50_us=%.0f p99_us=%.0f max_us=%.0f\n", mode.c_str(), seconds,
                waits.size(), at(0.50), at(0.99), waits.empty() ? 0.0 : waits.back());
    return 0;
}
