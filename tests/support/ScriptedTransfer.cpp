#include "ScriptedTransfer.h"

#include <algorithm>

namespace {

class TScriptedRequest : public TUrlRequest {
public:
    TScriptedRequest(const TScriptedResponse& response, std::int64_t& bytesRead)
        : FResponse(response), FBytesRead(bytesRead) {}
    int StatusCode() override { return FResponse.Status; }
    std::int64_t ContentLength() override {
        return FResponse.Length < 0 ? static_cast<std::int64_t>(FResponse.Body.size()) : FResponse.Length;
    }
    bool Read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        got = 0;
        if (FOffset >= FResponse.FailReadAt) return false;
        got = std::min(size, FResponse.Body.size() - FOffset);
        std::copy_n(FResponse.Body.data() + FOffset, got, buffer);
        FOffset += got;
        FBytesRead += static_cast<std::int64_t>(got);
        return true;
    }

private:
    TScriptedResponse FResponse;
    std::size_t FOffset = 0;
    std::int64_t& FBytesRead;
};

}  // namespace

std::unique_ptr<TUrlRequest> TScriptedSession::OpenUrl(const std::wstring& url, const std::wstring& headers,
                                                       std::uint32_t flags, std::uint32_t& error) {
    if (FServer.OnOpen) FServer.OnOpen(url, headers);
    FServer.Requested.push_back(url);
    FServer.Flags.push_back(flags);
    const auto found = FServer.Responses.find(url);
    const TScriptedResponse& response = found != FServer.Responses.end() ? found->second : FServer.Unknown;
    if (response.OpenFails || response.OpenError != 0) {
        error = response.OpenError;
        return nullptr;
    }
    return std::make_unique<TScriptedRequest>(response, FServer.BytesRead);
}

std::wstring TScriptedSession::ErrorText(std::uint32_t error) {
    if (error == 12007) return L"The server name could not be resolved";
    if (error == 12029) return L"A connection with the server could not be established";
    return L"";
}
