#include "StandInVantoWin32.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr const wchar_t* kClassName = L"LumetraSimVanto";
// Wakes the stand-in's thread to run the jobs queued for it.
constexpr UINT kRunJobs = WM_APP + 1;

}  // namespace

struct TStandInVanto::Impl {
    explicit Impl(TSimOutput& output) : Output(output) {}

    TSimOutput& Output;
    std::thread Thread;
    std::atomic<DWORD> ThreadId{0};
    HANDLE Ready = nullptr;  // the thread's message queue exists
    HWND Window = nullptr;   // only touched on the stand-in's thread
    std::mutex JobsLock;
    std::deque<std::function<void()>> Jobs;
    std::atomic<std::uint64_t> KeyDowns{0};
    std::atomic<unsigned> HangMs{0};
    std::atomic<bool> Hanging{false};
    std::atomic<std::int64_t> LastKeyDownTicks{0};

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        switch (message) {
        case WM_KEYDOWN:
            if (self) {
                if (const unsigned hang = self->HangMs.exchange(0); hang > 0) {
                    self->Hanging = true;
                    Sleep(hang);
                    self->Hanging = false;
                }
                self->LastKeyDownTicks = std::chrono::steady_clock::now().time_since_epoch().count();
                self->KeyDowns.fetch_add(1);
                if (!self->Output.QuietKeys()) self->Output.Line(L"keydown " + std::to_wstring(wParam));
            }
            return 0;
        case WM_CLOSE:
            // Only the script closes the stand-in.
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            wchar_t title[256] = {};
            GetWindowTextW(window, title, 256);
            RECT area;
            GetClientRect(window, &area);
            DrawTextW(dc, title, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
            EndPaint(window, &paint);
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    }

    void Run() {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // makes this thread's queue
        ThreadId = GetCurrentThreadId();
        SetEvent(Ready);
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (!message.hwnd && message.message == kRunJobs) {
                RunJobs();
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (Window) DestroyWindow(Window);
    }

    void RunJobs() {
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> guard(JobsLock);
                if (Jobs.empty()) return;
                job = std::move(Jobs.front());
                Jobs.pop_front();
            }
            job();
        }
    }

    // Runs `job` on the stand-in's thread and returns when it is done.
    void Call(const std::function<void()>& job) {
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        {
            std::lock_guard<std::mutex> guard(JobsLock);
            Jobs.push_back([&job, done] {
                job();
                SetEvent(done);
            });
        }
        PostThreadMessageW(ThreadId, kRunJobs, 0, 0);
        for (;;) {
            const DWORD r = MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_SENDMESSAGE, 0);
            if (r == WAIT_OBJECT_0) break;
            // Handles messages sent to this thread's windows; posted ones stay queued.
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(done);
    }

    void MakeWindow(const std::wstring& title) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Impl::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kClassName;
        RegisterClassExW(&wc);  // a second registration fails harmlessly
        Window = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 480, 160, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), this);
    }
};

TStandInVanto::TStandInVanto(TSimOutput& output) : FImpl(std::make_unique<Impl>(output)) {
    FImpl->Ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    FImpl->Thread = std::thread([impl = FImpl.get()] {
        // Windows lifts the thread of the program in front when a message reaches it; the
        // timing software is that program, and this thread stands in for it.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
        impl->Run();
    });
    WaitForSingleObject(FImpl->Ready, INFINITE);
}

TStandInVanto::~TStandInVanto() {
    PostThreadMessageW(FImpl->ThreadId, WM_QUIT, 0, 0);
    if (FImpl->Hanging) {
        // Asleep in a hang: the simulator does not wait for it, as nobody waits for a
        // hung timing software; it goes with the process.
        FImpl->Thread.detach();
        (void)FImpl.release();
        return;
    }
    if (FImpl->Thread.joinable()) FImpl->Thread.join();
    CloseHandle(FImpl->Ready);
}

void TStandInVanto::Show(const std::wstring& title) {
    FImpl->Call([&] {
        if (!FImpl->Window) FImpl->MakeWindow(title);
        else SetWindowTextW(FImpl->Window, title.c_str());
        if (FImpl->Window) {
            // Shown without taking the activation: the timing software is only looked at.
            ShowWindow(FImpl->Window, SW_SHOWNOACTIVATE);
            InvalidateRect(FImpl->Window, nullptr, TRUE);
            UpdateWindow(FImpl->Window);
        }
    });
}

bool TStandInVanto::Hide() {
    bool had = false;
    FImpl->Call([&] {
        had = FImpl->Window != nullptr;
        if (had) ShowWindow(FImpl->Window, SW_HIDE);
    });
    return had;
}

bool TStandInVanto::Close() {
    bool had = false;
    FImpl->Call([&] {
        had = FImpl->Window != nullptr;
        if (had) {
            DestroyWindow(FImpl->Window);
            FImpl->Window = nullptr;
        }
    });
    return had;
}

bool TStandInVanto::Exists() {
    bool had = false;
    FImpl->Call([&] { had = FImpl->Window != nullptr; });
    return had;
}

void TStandInVanto::HangNext(unsigned ms) { FImpl->HangMs = ms; }

bool TStandInVanto::Hanging() const { return FImpl->Hanging; }

std::uint64_t TStandInVanto::KeyDowns() const { return FImpl->KeyDowns; }

std::chrono::steady_clock::time_point TStandInVanto::LastKeyDown() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(FImpl->LastKeyDownTicks.load()));
}
