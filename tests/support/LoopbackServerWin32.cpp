#include "LoopbackServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

struct TLoopbackServer::TImpl {
    SOCKET Listener = INVALID_SOCKET;
    int Port = 0;
    std::atomic<bool> Stopping{false};
    std::thread Acceptor;
    std::mutex Lock;
    std::map<std::string, TRoute> Routes;
    std::vector<std::thread> Workers;
    std::vector<SOCKET> Clients;
    std::atomic<int> Requests{0};
    std::atomic<int> TunnelPort{0};
    std::atomic<int> Tunnels{0};

    void Accept() {
        for (;;) {
            SOCKET client = accept(Listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            std::lock_guard<std::mutex> guard(Lock);
            if (Stopping) {
                closesocket(client);
                return;
            }
            const DWORD timeout = 100;
            setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
            Clients.push_back(client);
            Workers.emplace_back([this, client] { Serve(client); });
        }
    }

    static bool SendAll(SOCKET s, const char* data, std::size_t size) {
        while (size > 0) {
            const int sent = send(s, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
            if (sent <= 0) return false;
            data += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }

    void Tunnel(SOCKET client, const std::string& early);

    void Serve(SOCKET client) {
        std::string pending;
        char buffer[4096];
        for (;;) {
            std::size_t end;
            while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
                const int got = recv(client, buffer, sizeof buffer, 0);
                // Idle keep-alive connections wake up now and then to see whether the
                // server is stopping: a blocked recv is not reliably woken by shutdown.
                if (got < 0 && WSAGetLastError() == WSAETIMEDOUT && !Stopping) continue;
                if (got <= 0) return;
                pending.append(buffer, static_cast<std::size_t>(got));
            }
            const std::string head = pending.substr(0, end);
            pending.erase(0, end + 4);
            ++Requests;
            const std::size_t first = head.find(' ');
            const std::size_t second = head.find(' ', first + 1);
            const std::string path = head.substr(first + 1, second - first - 1);
            if (head.rfind("CONNECT ", 0) == 0 && TunnelPort != 0) {
                Tunnel(client, pending);
                return;
            }
            TRoute route;
            {
                std::lock_guard<std::mutex> guard(Lock);
                auto found = Routes.find(path);
                if (found != Routes.end())
                    route = found->second;
                else
                    route = TRoute{404, true, -1, "no such file"};
            }
            if (route.NeverAnswer) {
                // What a black-holed network does: the connection stays, nothing comes.
                while (!Stopping) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return;
            }
            const bool close = !route.AnnounceLength || route.CutAfter != std::string::npos;
            std::string response = "HTTP/1.1 " + std::to_string(route.Status) + " Test\r\n";
            if (route.AnnounceLength)
                response += "Content-Length: " +
                            std::to_string(route.Length < 0 ? static_cast<std::int64_t>(route.Body.size())
                                                            : route.Length) +
                            "\r\n";
            response += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
            const std::size_t bodySize = std::min(route.Body.size(), route.CutAfter);
            if (!SendAll(client, response.data(), response.size())) return;
            if (route.BytesPerSecond == 0) {
                if (!SendAll(client, route.Body.data(), bodySize)) return;
            } else {
                // Sixteen slices a second.
                const std::size_t slice = std::max<std::size_t>(1, route.BytesPerSecond / 16);
                for (std::size_t at = 0; at < bodySize; at += slice) {
                    if (Stopping) return;
                    if (!SendAll(client, route.Body.data() + at, std::min(slice, bodySize - at))) return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1000 / 16));
                }
            }
            if (close) {
                shutdown(client, SD_SEND);
                return;
            }
        }
    }
};

// The proxy's side of a CONNECT: the client's bytes (those already read first) go to the
// tunnel's port and its answers come back, until either side closes or the server stops.
void TLoopbackServer::TImpl::Tunnel(SOCKET client, const std::string& early) {
    SOCKET target = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(TunnelPort.load()));
    if (target == INVALID_SOCKET || connect(target, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const char refused[] = "HTTP/1.1 502 Test\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        SendAll(client, refused, sizeof refused - 1);
        if (target != INVALID_SOCKET) closesocket(target);
        return;
    }
    ++Tunnels;
    const char established[] = "HTTP/1.1 200 Connection established\r\n\r\n";
    bool open = SendAll(client, established, sizeof established - 1) &&
                (early.empty() || SendAll(target, early.data(), early.size()));
    char buffer[16384];
    while (open && !Stopping) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        FD_SET(target, &readable);
        timeval wait{0, 100 * 1000};
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0) break;
        for (SOCKET from : {client, target}) {
            if (!open || !FD_ISSET(from, &readable)) continue;
            const int got = recv(from, buffer, sizeof buffer, 0);
            if (got <= 0) {
                open = false;
                break;
            }
            open = SendAll(from == client ? target : client, buffer, static_cast<std::size_t>(got));
        }
    }
    shutdown(client, SD_SEND);
    closesocket(target);
}

TLoopbackServer::TLoopbackServer() : FImpl(std::make_unique<TImpl>()) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    FImpl->Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(FImpl->Listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(FImpl->Listener, 16);
    int size = sizeof address;
    getsockname(FImpl->Listener, reinterpret_cast<sockaddr*>(&address), &size);
    FImpl->Port = ntohs(address.sin_port);
    FImpl->Acceptor = std::thread([this] { FImpl->Accept(); });
}

TLoopbackServer::~TLoopbackServer() {
    {
        std::lock_guard<std::mutex> guard(FImpl->Lock);
        FImpl->Stopping = true;
        closesocket(FImpl->Listener);
        for (SOCKET client : FImpl->Clients) shutdown(client, SD_BOTH);
    }
    FImpl->Acceptor.join();
    for (auto& worker : FImpl->Workers) worker.join();
    for (SOCKET client : FImpl->Clients) closesocket(client);
    WSACleanup();
}

std::wstring TLoopbackServer::Base() const { return L"http://127.0.0.1:" + std::to_wstring(FImpl->Port); }

void TLoopbackServer::Route(const std::string& path, TRoute route) {
    std::lock_guard<std::mutex> guard(FImpl->Lock);
    FImpl->Routes[path] = std::move(route);
}

int TLoopbackServer::Requests() const { return FImpl->Requests; }

void TLoopbackServer::TunnelTo(int port) { FImpl->TunnelPort = port; }

int TLoopbackServer::Tunnels() const { return FImpl->Tunnels; }
