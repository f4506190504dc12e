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
    Report.assign(device->ReaderCaps().InputReportByteLength, 0);
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
        // The buffer follows the device's input report length (it only changes when the
        // report descriptor is read again).
        const std::uint32_t length = Device->ReaderCaps().InputReportByteLength;
        if (Report.size() != length) Report.assign(length, 0);
        std::fill(Report.begin(), Report.end(), std::uint8_t{0});

        if (length == 0 || !Device->ReadFileEx(Report.data(), length)) {
            FErr = platform.LastError();
            Device->ReadFailedNow();
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

        std::uint32_t bytes = 0;
        if (!Device->FinishRead(bytes)) {
            // Ended with an error on a handle still ours: never read again on it.
            FErr = platform.LastError();
            Device->ReadFailedNow();
            MainThread::Synchronize([this] { Device->DeliverError(FErr); });
            platform.SleepAlertable(static_cast<std::uint32_t>(Device->ThreadSleepTime()));
            continue;
        }
        NumBytesRead = std::min(bytes, length);
        if (NumBytesRead > 0) {
            Device->ReadSucceeded();
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
