#pragma once
// What the HID tests share: a main thread with its hand-offs served on demand, a capture
// of the messages the default error handler shows, and a virtual bus.

#include "Application.h"
#include "MainThread.h"
#include "VirtualHidBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class HidTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainThread::Initialize();
        MainThread::ProcessMessages();
        Application::SetMessageShower([this](const std::wstring& m) { Shown.push_back(m); });
    }
    void TearDown() override {
        MainThread::ProcessMessages();
        Application::SetMessageShower(nullptr);
    }

    // Serves hand-offs until `done` holds (the host has no message loop of its own).
    template <typename Pred>
    bool PumpUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MainThread::ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // Waits until `done` holds without serving anything: the workers' hand-offs stay queued.
    template <typename Pred>
    static bool WaitUnserved(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // Serves hand-offs for a while.
    void PumpFor(std::chrono::milliseconds span) {
        PumpUntil([] { return false; }, span);
    }

    VirtualHidBus Bus;
    std::vector<std::wstring> Shown;
};
