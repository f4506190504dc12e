#pragma once
// A virtual bus with a controller, a control box list, and helpers that read back what a
// virtual control box received.

#include "JvHidDevice.h"
#include "JvHidDeviceController.h"
#include "MainThread.h"
#include "VirtualHidBus.h"
#include "uStreamDeck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class ControlBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        Controller = std::make_unique<TJvHidDeviceController>(Bus);
    }
    void TearDown() override {
        Boxes.clear();
        for (TJvHidDevice*& device : CheckedOut) Controller->CheckIn(device);
        Controller.reset();
        MainThread::ProcessMessages();
    }

    // Plugs a virtual device, lists it and checks it out.
    TJvHidDevice* Attach(const TVirtualHidDescription& desc, VirtualHidDevicePtr* virtualDevice = nullptr) {
        VirtualHidDevicePtr v = Bus.Plug(desc);
        if (virtualDevice) *virtualDevice = v;
        Controller->DeviceChange();
        TJvHidDevice* device = nullptr;
        EXPECT_TRUE(Controller->CheckOut(device));
        CheckedOut.push_back(device);
        return device;
    }

    // A control box of the list on a fresh virtual six-key device.
    TSD& NewBox(VirtualHidDevicePtr& virtualDevice, const std::wstring& serial = L"AL01") {
        TJvHidDevice* device = Attach(VirtualControlBoxDescription(serial), &virtualDevice);
        Boxes.push_back(std::make_unique<TSD>(&List, device));
        return *Boxes.back();
    }

    VirtualHidBus Bus;
    std::unique_ptr<TJvHidDeviceController> Controller;
    std::vector<TJvHidDevice*> CheckedOut;
    // The list follows a bus of its own, left empty: the boxes under test are built by hand.
    VirtualHidBus ListBus;
    TSDList List{ListBus};
    std::vector<std::unique_ptr<TSD>> Boxes;
};

// The 19200 pixel bytes carried by the 20 image reports of one key.
inline Bytes StreamOf(const std::vector<Bytes>& reports) {
    Bytes stream;
    if (reports.size() != 20) {
        ADD_FAILURE() << reports.size() << " reports instead of 20";
        return stream;
    }
    for (std::size_t page = 0; page < 20; ++page) {
        const Bytes& r = reports[page];
        if (r.size() != 1024) {
            ADD_FAILURE() << "page " << page << " is " << r.size() << " bytes long";
            return {};
        }
        const std::size_t from = page == 0 ? 61 : 16;
        const std::size_t to = page == 19 ? 109 : 1024;
        stream.insert(stream.end(), r.begin() + static_cast<std::ptrdiff_t>(from),
                      r.begin() + static_cast<std::ptrdiff_t>(to));
    }
    return stream;
}

// The pixel (blue, green, red) at column x, row y of a stream.
inline Rgb StreamPixel(const Bytes& stream, int x, int y) {
    const std::size_t at = 240 * static_cast<std::size_t>(x) + 3 * static_cast<std::size_t>(y);
    return Rgb{stream[at + 2], stream[at + 1], stream[at]};
}

// Reports `first` to `first + 19` of a recording: one key's picture.
inline std::vector<Bytes> KeyReports(const std::vector<Bytes>& all, std::size_t key) {
    const std::size_t first = 20 * key;
    if (all.size() < first + 20) return {};
    return {all.begin() + static_cast<std::ptrdiff_t>(first),
            all.begin() + static_cast<std::ptrdiff_t>(first + 20)};
}
