// The mail client's connection on Windows sockets.

#include <winsock2.h>
// After winsock2.h, which they need.
#include <ws2tcpip.h>

#include <cstring>

#include "platform/windows/exceptlog/fault_mail_windows.hpp"

namespace packmeter {

namespace {

std::string LastSocketError() {
    return FaultSystemErrorText(static_cast<unsigned long>(::WSAGetLastError()));
}

class WinsockLayer final : public FaultSocketLayer {
  public:
    ~WinsockLayer() override {
        std::string ignored;
        Close(ignored);
        Cleanup(ignored);
    }

    bool Startup(std::string& error) override {
        WSADATA data{};
        if (const int failure = ::WSAStartup(MAKEWORD(2, 2), &data)) {
            error = FaultSystemErrorText(static_cast<unsigned long>(failure));
            return false;
        }
        started_ = true;
        return true;
    }

    bool Cleanup(std::string& error) override {
        if (!started_) {
            return true;
        }
        started_ = false;
        if (::WSACleanup() != 0) {
            error = LastSocketError();
            return false;
        }
        return true;
    }

    bool Open() override {
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        return socket_ != INVALID_SOCKET;
    }

    FaultIpAddress Resolve(const std::string& host) override {
        FaultIpAddress address{};
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
            const auto* ip = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
            std::memcpy(address.data(), &ip->sin_addr, 4);
        }
        if (found) {
            ::freeaddrinfo(found);
        }
        return address;
    }

    bool Connect(const FaultIpAddress& address, int port, int timeoutMs,
                 std::string& error) override {
        // Every blocking receive and send gives up after the time-out; the connection itself
        // is waited for by select, since a host that drops the request would otherwise keep
        // connect() busy for most of a minute.
        const DWORD limit = static_cast<DWORD>(timeoutMs);
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                     sizeof limit);
        ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                     sizeof limit);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = ::htons(static_cast<u_short>(port));
        std::memcpy(&peer.sin_addr, address.data(), 4);
        u_long nonBlocking = 1;
        ::ioctlsocket(socket_, FIONBIO, &nonBlocking);
        int result = ::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        int failure = result == 0 ? 0 : ::WSAGetLastError();
        if (failure == WSAEWOULDBLOCK) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(socket_, &writable);
            FD_SET(socket_, &failed);
            timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
            result = ::select(0, nullptr, &writable, &failed, &wait);
            failure = WSAETIMEDOUT;
            if (result == 1) {
                int size = sizeof failure;
                failure = 0;
                ::getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure),
                             &size);
            }
        }
        nonBlocking = 0;
        ::ioctlsocket(socket_, FIONBIO, &nonBlocking);
        if (failure != 0) {
            error = FaultSystemErrorText(static_cast<unsigned long>(failure));
            return false;
        }
        return true;
    }

    bool IsOpen() const override { return socket_ != INVALID_SOCKET; }

    bool Close(std::string& error) override {
        if (socket_ == INVALID_SOCKET) {
            return true;
        }
        const int result = ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
        if (result != 0) {
            error = LastSocketError();
            return false;
        }
        return true;
    }

    long Send(std::string_view data, std::string& error) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const int count =
                ::send(socket_, data.data() + sent, static_cast<int>(data.size() - sent), 0);
            if (count == SOCKET_ERROR) {
                const int failure = ::WSAGetLastError();
                if (failure == WSAEWOULDBLOCK || failure == WSAETIMEDOUT) {
                    break;  // a short send
                }
                error = FaultSystemErrorText(static_cast<unsigned long>(failure));
                return -1;
            }
            sent += static_cast<std::size_t>(count);
        }
        return static_cast<long>(sent);
    }

    ReadResult Read(std::string& data, std::string& error) override {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval now{0, 0};
        if (::select(0, &readable, nullptr, nullptr, &now) != 1) {
            return ReadResult::kNothing;
        }
        // Readable with nothing waiting: the server has closed the connection.
        char buffer[4096];
        const int count = ::recv(socket_, buffer, sizeof buffer, 0);
        if (count > 0) {
            data.assign(buffer, static_cast<std::size_t>(count));
            return ReadResult::kData;
        }
        if (count == 0) {
            return ReadResult::kClosed;
        }
        const int failure = ::WSAGetLastError();
        if (failure == WSAEWOULDBLOCK) {
            return ReadResult::kNothing;
        }
        error = FaultSystemErrorText(static_cast<unsigned long>(failure));
        return ReadResult::kError;
    }

    bool StartTls(const std::string&, std::string& error) override {
        error = "TLS is not available.";
        return false;
    }

    std::string LocalHostName() override {
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) {
            return "localhost";
        }
        return name;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    bool started_ = false;
};

}  // namespace

std::unique_ptr<FaultSocketLayer> CreateWinsockLayer() {
    return std::make_unique<WinsockLayer>();
}

}  // namespace packmeter
