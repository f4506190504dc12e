#pragma once
// A small HTTP/1.1 server on 127.0.0.1 that the Windows tests start themselves. Each path
// answers as its route says: status, announced length (or none, then the connection
// closes after the body), the body, or a body cut short; or the body trickles slowly, or
// the server never answers at all. It can also stand as a web proxy that tunnels every
// CONNECT to one port of this machine (an HTTPS server there answers for any host).

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct TRoute {
    int Status = 200;
    bool AnnounceLength = true;
    std::int64_t Length = -1;  // announced length; -1: the body's size
    std::string Body;
    std::size_t CutAfter = std::string::npos;  // send only this many bytes, then close
    std::size_t BytesPerSecond = 0;            // the body trickles at this rate; 0: at once
    bool NeverAnswer = false;                  // read the request, then say nothing until stopped
};

class TLoopbackServer {
public:
    TLoopbackServer();
    ~TLoopbackServer();
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;

    // "http://127.0.0.1:port"
    std::wstring Base() const;
    void Route(const std::string& path, TRoute route);
    int Requests() const;
    // CONNECT requests are answered "200" and then relayed, both ways, to 127.0.0.1:port.
    void TunnelTo(int port);
    int Tunnels() const;

    struct TImpl;

private:
    std::unique_ptr<TImpl> FImpl;
};
