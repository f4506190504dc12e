#include "Application.h"

#include "Exceptions.h"
#include "TextUtils.h"

#include <cstdio>
#include <mutex>

namespace Application {
namespace {

std::mutex& ShowerLock() {
    static std::mutex lock;
    return lock;
}

TMessageShower& Shower() {
    static TMessageShower shower;
    return shower;
}

}  // namespace

void SetMessageShower(TMessageShower shower) {
    std::lock_guard<std::mutex> guard(ShowerLock());
    Shower() = std::move(shower);
}

void HandleException(std::exception_ptr error) noexcept {
    std::wstring message;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return;
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = Utf8ToWide(e.what());
    } catch (...) {
        message = L"Unknown error";
    }
    try {
        TMessageShower shower;
        {
            std::lock_guard<std::mutex> guard(ShowerLock());
            shower = Shower();
        }
        if (shower)
            shower(message);
        else
            std::fprintf(stderr, "%s\n", WideToUtf8(message).c_str());
    } catch (...) {
        // A failing message box must not take the program down.
    }
}

void Guarded(const std::function<void()>& call) noexcept {
    try {
        call();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

}  // namespace Application
