#pragma once
// A server as a test describes it, reached through the transfer seam with no network: each
// address answers with its status, announced length and body, or a read that fails, or an
// open that fails. What was asked is kept for the test to look at.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UpdateTransport.h"

struct TScriptedResponse {
    int Status = 200;
    std::int64_t Length = -1;  // announced length; -1: the body's size; 0: none announced
    std::string Body;
    std::size_t FailReadAt = std::string::npos;  // a read at this offset fails
    std::uint32_t OpenError = 0;                 // non-zero: the open fails with this number
    bool OpenFails = false;                      // the open fails (with OpenError, even 0)
};

struct TScriptedServer {
    std::map<std::wstring, TScriptedResponse> Responses;
    // What an address the server does not know answers.
    TScriptedResponse Unknown{404, -1, "no such file"};
    std::vector<std::wstring> Requested;
    std::vector<std::uint32_t> Flags;  // the open flags, request by request
    int OpenSessions = 0;
    std::int64_t BytesRead = 0;  // by every request to this server
    // Called with each address and the headers asked for it.
    std::function<void(const std::wstring& url, const std::wstring& headers)> OnOpen;
};

// The system's texts of the two errors the tests use: a name that does not resolve
// (12007) and a server that does not answer (12029).
class TScriptedSession : public TInternetSession {
public:
    explicit TScriptedSession(TScriptedServer& server) : FServer(server) { ++FServer.OpenSessions; }
    ~TScriptedSession() override { --FServer.OpenSessions; }
    std::unique_ptr<TUrlRequest> OpenUrl(const std::wstring& url, const std::wstring& headers, std::uint32_t flags,
                                         std::uint32_t& error) override;
    std::wstring ErrorText(std::uint32_t error) override;

private:
    TScriptedServer& FServer;
};
