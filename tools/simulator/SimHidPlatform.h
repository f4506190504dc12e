#pragma once
// The simulator's HID platform: the virtual bus, seen through a thin layer that counts the
// reads each device path has started. The program's read thread starts its next read only
// after the main thread has handled the report it just read, so a report queued for a
// device has been handled once the read after the one that took it has started. That is
// how `press` and `input` know when to return.

#include "VirtualHidBus.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class TSimHidPlatform : public HidPlatform {
public:
    explicit TSimHidPlatform(VirtualHidBus& bus) : FBus(bus) {}

    VirtualHidBus& Bus() { return FBus; }

    // Queues `report` for `device` and returns the number of reads that the device's path
    // must have started before the report counts as handled.
    std::uint64_t QueueReport(VirtualHidDevice& device, std::vector<std::uint8_t> report);
    // Reads started so far on `path`.
    std::uint64_t ReadsStarted(const std::wstring& path) const;

    bool Acquire() override { return FBus.Acquire(); }
    void Release() override { FBus.Release(); }
    bool Enumerate(std::vector<THidInterface>& interfaces) override { return FBus.Enumerate(interfaces); }
    HidFilePtr Open(const std::wstring& path, THidOpenKind kind) override;
    bool GetAttributes(HidFile& file, THIDDAttributes& attributes) override {
        return FBus.GetAttributes(file, attributes);
    }
    bool GetString(HidFile& file, THidStringKind kind, std::uint16_t* buffer, std::uint32_t bytes) override {
        return FBus.GetString(file, kind, buffer, bytes);
    }
    HidPreparsedDataPtr GetPreparsedData(HidFile& file) override { return FBus.GetPreparsedData(file); }
    bool GetCaps(const HidPreparsedData& data, THIDPCaps& caps) override { return FBus.GetCaps(data, caps); }
    bool SetFeature(HidFile& file, const void* report, std::uint32_t size) override {
        return FBus.SetFeature(file, report, size);
    }
    bool GetFeature(HidFile& file, void* report, std::uint32_t size) override {
        return FBus.GetFeature(file, report, size);
    }
    bool Write(HidFile& file, const void* report, std::uint32_t size, std::uint32_t& written) override {
        return FBus.Write(file, report, size, written);
    }
    bool ReadEx(HidFile& file, THidOverlapped& overlapped, void* buffer, std::uint32_t size) override;
    bool OverlappedResult(HidFile& file, THidOverlapped& overlapped, std::uint32_t& bytes) override {
        return FBus.OverlappedResult(file, overlapped, bytes);
    }
    bool CancelIo(HidFile& file) override { return FBus.CancelIo(file); }
    bool SetNumInputBuffers(HidFile& file, std::uint32_t count) override {
        return FBus.SetNumInputBuffers(file, count);
    }
    THidWaitResult SleepAlertable(std::uint32_t milliseconds) override { return FBus.SleepAlertable(milliseconds); }
    std::unique_ptr<HidNotifyWindow> CreateNotifyWindow(THidDeviceChangeHandler handler,
                                                        bool usbInterfaces) override {
        return FBus.CreateNotifyWindow(std::move(handler), usbInterfaces);
    }
    std::uint32_t LastError() override { return FBus.LastError(); }
    void Sleep(std::uint32_t milliseconds) override { FBus.Sleep(milliseconds); }
    void SetCurrentThreadName(const std::wstring& name) override { FBus.SetCurrentThreadName(name); }
    void RaiseCurrentThreadPriority() override {
        if (RaiseThreadPriority) RaiseThreadPriority();
    }

    // What raising a read thread's priority does (the simulator: what the program does).
    std::function<void()> RaiseThreadPriority;

private:
    VirtualHidBus& FBus;
    // Held across a read's start and across queueing a report, so that the two cannot
    // interleave: a report queued while no read is outstanding is taken by the next read.
    mutable std::mutex FLock;
    std::map<const HidFile*, std::wstring> FPaths;
    std::map<std::wstring, std::uint64_t> FReads;
};
