#include "UpdateTransport.h"
#include "WinInetTextWin32.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <vector>

namespace {

// Closed once, from whichever thread comes first: closing a handle from another thread
// is how WinInet lets a blocked call on it return.
class TInternetHandle {
public:
    explicit TInternetHandle(HINTERNET handle) : FHandle(handle) {}
    ~TInternetHandle() { Close(); }
    TInternetHandle(const TInternetHandle&) = delete;
    TInternetHandle& operator=(const TInternetHandle&) = delete;
    // nullptr once closed: the call it is passed to then fails plainly.
    HINTERNET Get() const { return FHandle.load(); }
    void Close() {
        if (HINTERNET handle = FHandle.exchange(nullptr)) InternetCloseHandle(handle);
    }

private:
    std::atomic<HINTERNET> FHandle;
};

class TWinInetRequest : public TUrlRequest {
public:
    explicit TWinInetRequest(HINTERNET handle) : FHandle(handle) {}

    int StatusCode() override {
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!HttpQueryInfoW(FHandle.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
            return 0;
        return status > INT_MAX ? INT_MAX : static_cast<int>(status);
    }

    std::int64_t ContentLength() override {
        // As text: the numeric form stops at 32 bits.
        wchar_t text[32] = {};
        DWORD size = sizeof text - sizeof(wchar_t);
        if (!HttpQueryInfoW(FHandle.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return 0;
        std::int64_t value = 0;
        for (const wchar_t* c = text; *c != 0; ++c) {
            if (*c < L'0' || *c > L'9' || value > (INT64_MAX - 9) / 10) return 0;
            value = value * 10 + (*c - L'0');
        }
        return value;
    }

    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        DWORD read = 0;
        const DWORD want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        got = 0;
        FReadError = 0;
        if (!InternetReadFile(FHandle.Get(), buffer, want, &read)) {
            FReadError = GetLastError();
            return false;
        }
        got = read;
        return true;
    }

    std::uint32_t ReadError() const override { return FReadError; }

    void Abort() override { FHandle.Close(); }

private:
    TInternetHandle FHandle;
    std::uint32_t FReadError = 0;
};

class TWinInetSession : public TInternetSession {
public:
    explicit TWinInetSession(HINTERNET handle) : FHandle(handle) {}

    std::unique_ptr<TUrlRequest> OpenUrl(const std::wstring& url, const std::wstring& headers, std::uint32_t flags,
                                         std::uint32_t& error) override {
        error = 0;
        HINTERNET request =
            InternetOpenUrlW(FHandle.Get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                             headers.empty() ? 0 : static_cast<DWORD>(-1), flags, 0);
        if (request == nullptr) {
            error = GetLastError();
            return nullptr;
        }
        return std::make_unique<TWinInetRequest>(request);
    }

    std::wstring ErrorText(std::uint32_t error) override {
        if (error == kExtendedError) {
            DWORD code = 0;
            DWORD length = 0;
            InternetGetLastResponseInfoW(&code, nullptr, &length);
            if (length == 0) return {};
            std::vector<wchar_t> buffer(length + 1);
            length = static_cast<DWORD>(buffer.size());
            if (!InternetGetLastResponseInfoW(&code, buffer.data(), &length)) return {};
            return std::wstring(buffer.data(), length);
        }
        return WinInetMessageText(error);
    }

    // Set on the session, the limits hold for every request opened on it.
    void SetLimits(const TTransferLimits& limits) override {
        const auto set = [this](DWORD option, std::chrono::milliseconds value) {
            DWORD ms = static_cast<DWORD>(std::clamp<long long>(value.count(), 1, 0x7FFFFFFF));
            InternetSetOptionW(FHandle.Get(), option, &ms, sizeof ms);
        };
        set(INTERNET_OPTION_CONNECT_TIMEOUT, limits.Connect);
        set(INTERNET_OPTION_SEND_TIMEOUT, limits.Send);
        set(INTERNET_OPTION_RECEIVE_TIMEOUT, limits.Receive);
    }

    void Abort() override { FHandle.Close(); }

private:
    TInternetHandle FHandle;
};

}  // namespace

// WinInet's own message table only: a number it does not know has no text.
std::wstring WinInetMessageText(std::uint32_t error) {
    HMODULE module = GetModuleHandleW(L"wininet.dll");
    if (module == nullptr) return {};
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    return result;
}

std::unique_ptr<TInternetSession> OpenInternetSession(const std::wstring& agent, std::uint32_t& error) {
    error = 0;
    HINTERNET session = InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session == nullptr) {
        error = GetLastError();
        return nullptr;
    }
    return std::make_unique<TWinInetSession>(session);
}
