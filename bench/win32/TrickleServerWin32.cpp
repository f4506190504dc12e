// The update server of the trickled-download benchmark (scripts/bench): the loopback server
// of tests/support offering a control file whose one file, 16 MiB, trickles in at 16 KiB/s.
//
//   trickle_server.exe
// prints its address (http://127.0.0.1:PORT) on a line of its own, serves the control file
// at /lumetra.txt and the file at /release.bin, and ends when its standard input ends
// (after ten minutes at the latest).

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "TextUtils.h"

namespace {

constexpr std::size_t kFileBytes = 16 * 1024 * 1024;
constexpr std::size_t kBytesPerSecond = 16 * 1024;
constexpr DWORD kLifetimeMs = 600'000;

}  // namespace

int wmain() {
    TLoopbackServer server;
    const std::string base = WideToUtf8(server.Base());
    TRoute control;
    control.Body = "[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" + base +
                   "/release.bin\r\ntargetdir={APP}\r\n";
    server.Route("/lumetra.txt", control);
    TRoute release;
    release.Body.assign(kFileBytes, 'r');
    release.BytesPerSecond = kBytesPerSecond;
    server.Route("/release.bin", release);
    std::printf("%s\n", base.c_str());
    std::fflush(stdout);

    // Until our standard input ends: the script closes it once its run is over.
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread([ended] {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        }
        SetEvent(ended);
    }).detach();
    WaitForSingleObject(ended, kLifetimeMs);
    return 0;
}
