#include "SimHidPlatform.h"

HidFilePtr TSimHidPlatform::Open(const std::wstring& path, THidOpenKind kind) {
    HidFilePtr file = FBus.Open(path, kind);
    if (file) {
        std::lock_guard<std::mutex> guard(FLock);
        // A handle's address may be reused after it closed; the newest open wins.
        FPaths[file.get()] = path;
    }
    return file;
}

bool TSimHidPlatform::ReadEx(HidFile& file, THidOverlapped& overlapped, void* buffer, std::uint32_t size) {
    std::lock_guard<std::mutex> guard(FLock);
    const bool started = FBus.ReadEx(file, overlapped, buffer, size);
    if (started) {
        const auto found = FPaths.find(&file);
        if (found != FPaths.end()) ++FReads[found->second];
    }
    return started;
}

std::uint64_t TSimHidPlatform::QueueReport(VirtualHidDevice& device, std::vector<std::uint8_t> report) {
    std::lock_guard<std::mutex> guard(FLock);
    const std::uint64_t started = FReads[device.Path()];
    device.QueueInput(std::move(report));
    // Taken at once by the outstanding read: handled when the next read starts. Otherwise
    // the next read takes it, and the one after that shows it handled.
    return device.QueuedInputCount() == 0 ? started + 1 : started + 2;
}

std::uint64_t TSimHidPlatform::ReadsStarted(const std::wstring& path) const {
    std::lock_guard<std::mutex> guard(FLock);
    const auto found = FReads.find(path);
    return found == FReads.end() ? 0 : found->second;
}
