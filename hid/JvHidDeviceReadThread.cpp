#include "JvHidDeviceReadThread.h"

#include "Exceptions.h"
#include "JvHidDevice.h"
#include "MainThread.h"

#include <algorithm>

namespace {

// How many waits a stopping thread gives the platform to end a cancelled read.
constexpr int kDrainWaits = 50;

}  // namespace

TJvHidDeviceReadThread::TJvHidDeviceReadThread() {
    throw EControllerError(L"Direct creation of a TJvDeviceReadThread object is not allowed");
}

TJvHidDeviceReadThread::TJvHidDeviceReadThread(TJvHidDevice* device) : Device(device) {
    Report.assign(device->Caps().InputReportByteLength, 0);
    FThread = std::thread([this] { Execute(); });
}

TJvHidDeviceReadThread::~TJvHidDeviceReadThread() {
    if (FThread.joinable()) {
        Terminate();
        WaitFor();
    }
}

void TJvHidDeviceReadThread::WaitFor() { MainThread::WaitFor(FThread); }

void TJvHidDeviceReadThread::Execute() {
    HidPlatform& platform = *Device->FPlatform;
    platform.SetCurrentThreadName(L"TJvHidDeviceReadThread");
    // A press must not wait behind a build or a scan that keeps every core busy.
    platform.RaiseCurrentThreadPriority();
    bool readOutstanding = false;
    while (!Terminated()) {
        // The buffer was sized when the thread started; a report length learnt later must
        // not make the platform write past it.
        const std::uint32_t length = std::min<std::uint32_t>(
            Device->ReaderCaps().InputReportByteLength, static_cast<std::uint32_t>(Report.size()));
        std::fill_n(Report.begin(), length, std::uint8_t{0});

        if (!Device->ReadFileEx(Report.data(), length)) {
            FErr = platform.LastError();
            MainThread::Synchronize([this] { Device->DeliverError(FErr); });
            platform.SleepAlertable(static_cast<std::uint32_t>(Device->ThreadSleepTime()));
            continue;
        }
        readOutstanding = true;

        THidWaitResult w;
        do {
            w = platform.SleepAlertable(static_cast<std::uint32_t>(Device->ThreadSleepTime()));
        } while (!Terminated() && w != THidWaitResult::IoCompletion);
        if (w == THidWaitResult::IoCompletion) readOutstanding = false;
        if (Terminated()) break;  // a report that completed just now is dropped

        NumBytesRead = std::min(Device->HidOverlappedReadResult(), length);
        if (NumBytesRead > 0) {
            MainThread::Synchronize([this] {
                Device->DeliverData(Report[0], Report.data() + 1,
                                    static_cast<std::uint16_t>(NumBytesRead - 1));
            });
        }
        const std::int32_t delay = Device->PollingDelayTime();
        if (delay > 0) platform.SleepAlertable(static_cast<std::uint32_t>(delay));
    }
    if (readOutstanding) DrainOutstandingRead();
}

void TJvHidDeviceReadThread::DrainOutstandingRead() {
    HidPlatform& platform = *Device->FPlatform;
    // When the read handle is closed already, closing it ended the read: the completion
    // is on its way either way.
    Device->CancelIO(omhRead);
    for (int i = 0; i < kDrainWaits; ++i)
        if (platform.SleepAlertable(static_cast<std::uint32_t>(Device->ThreadSleepTime())) ==
            THidWaitResult::IoCompletion)
            return;
    // The platform never ended the read. It may still write into the buffer and the
    // overlapped record, so both are given up to it rather than freed.
    (void)new std::vector<std::uint8_t>(std::move(Report));
    (void)Device->FOvlRead.release();
    Device->FOvlRead = std::make_unique<THidOverlapped>();
}
