// Linux builds have no desktop: the application object keeps its state only.

#include "AppShell.h"

#include "MainThread.h"

#include <cstdio>
#include <cstdlib>

#include "TextUtils.h"

namespace {
bool gTerminated = false;
std::function<void(unsigned)> gEndProcess;
}

namespace AppShell {

void Initialize(const std::wstring&) {}
TWindowHandle Handle() { return 0; }
void ShowTaskbarButton(bool) {}
void Terminate() {
    gTerminated = true;
    MainThread::RequestQuit();
}
bool Terminated() { return gTerminated; }
void ResetTerminated() {
    gTerminated = false;
    MainThread::ClearQuitRequest();
}
void EndProcess(unsigned code) {
    if (gEndProcess)
        gEndProcess(code);
    else
        std::exit(static_cast<int>(code));
}
void SetEndProcessHandler(std::function<void(unsigned)> handler) { gEndProcess = std::move(handler); }
void BringToFront(TWindowHandle) {}
std::optional<std::vector<std::uint8_t>> ResourceBytes(const std::wstring&, int) { return std::nullopt; }
void ShowMessage(const std::wstring& message) { std::fprintf(stderr, "%s\n", WideToUtf8(message).c_str()); }

}  // namespace AppShell
