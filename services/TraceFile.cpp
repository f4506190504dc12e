#include "TraceFile.h"

#include <atomic>

namespace {

std::atomic<TraceFile*>& Installed() {
    static std::atomic<TraceFile*> file{nullptr};
    return file;
}

}  // namespace

TraceFile& CurrentTraceFile() {
    if (TraceFile* file = Installed().load()) return *file;
    return PlatformTraceFile();
}

void SetTraceFile(TraceFile* file) { Installed().store(file); }
