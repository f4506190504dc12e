// Download throughput of the update transfer: one URLGetFile over WinInet, timed, with the
// growth of the process's peak working set during the transfer (files are streamed in
// chunks, so it must stay flat whatever the file's size). The session is the one a run
// uses: its calls on a worker while the main thread serves its messages.
//
//   download_bench.exe URL FOLDER
// prints: seconds=S bytes=N peak_growth_kib=K

#include <windows.h>
#include <psapi.h>

#include "MainThread.h"
#include "TransferWorker.h"
#include "UpdateTransport.h"
#include "WUpdate.h"

#include <cstdio>
#include <string>

namespace {

SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_bench URL FOLDER\n");
        return 2;
    }
    const std::wstring url = argv[1];
    std::wstring folder = argv[2];
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';

    MainThread::Initialize();
    std::uint32_t error = 0;
    auto session = TWorkerSession::Open(
        [](std::uint32_t& e) { return OpenInternetSession(L"Lumetra download bench", e); }, kTransferLimits, error);
    if (!session) {
        std::fprintf(stderr, "no Internet session (error %u)\n", error);
        return 1;
    }
    TWebUpdate engine;
    engine.OnStatus = [](TWebUpdate&, const std::wstring& text, int, int) {
        std::fwprintf(stderr, L"status: %ls\n", text.c_str());
    };

    const SIZE_T before = PeakWorkingSet();
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const bool ok = engine.URLGetFile(*session, url, folder);
    QueryPerformanceCounter(&stop);
    const SIZE_T after = PeakWorkingSet();
    if (!ok) {
        std::fprintf(stderr, "download failed\n");
        return 1;
    }

    const std::wstring name = url.substr(url.find_last_of(L'/') + 1);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    unsigned long long bytes = 0;
    if (GetFileAttributesExW((folder + name).c_str(), GetFileExInfoStandard, &data))
        bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const double seconds = double(stop.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("seconds=%.3f bytes=%llu peak_growth_kib=%llu\n", seconds, bytes,
                static_cast<unsigned long long>((after > before ? after - before : 0) / 1024));
    return 0;
}
