#pragma once
// The background thread of one device: keeps one asynchronous read of one input report
// outstanding and hands each report to the device's data handler on the main thread,
// waiting until the handler has returned.

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class TJvHidDevice;

class TJvHidDeviceReadThread {
public:
    // Threads come from their device only; this one refuses.
    TJvHidDeviceReadThread();
    // Stops the thread if it still runs.
    ~TJvHidDeviceReadThread();
    TJvHidDeviceReadThread(const TJvHidDeviceReadThread&) = delete;
    TJvHidDeviceReadThread& operator=(const TJvHidDeviceReadThread&) = delete;

    // Asks the thread to end; it notices after its current wait.
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // Waits until the thread has ended, serving its hand-offs meanwhile (main thread).
    void WaitFor();

    std::uint32_t FErr = 0;
    TJvHidDevice* const Device = nullptr;
    std::uint32_t NumBytesRead = 0;
    std::vector<std::uint8_t> Report;

private:
    friend class TJvHidDevice;
    // Starts at once.
    explicit TJvHidDeviceReadThread(TJvHidDevice* device);
    void Execute();
    // After a stop with a read outstanding: cancel it and wait until the platform has
    // ended it, so that nothing writes into Report once the thread is gone.
    void DrainOutstandingRead();

    std::atomic<bool> FTerminated{false};
    std::thread FThread;
};
