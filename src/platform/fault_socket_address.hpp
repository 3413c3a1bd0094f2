#pragma once

// The IPv4 addresses and the host name of the logger's mail client, the same through POSIX sockets and Winsock:
// each system's socket layer includes this after its own socket headers.

#include <cstdint>
#include <cstring>
#include <string>

#include "core/exceptlog/fault_socket.hpp"

namespace packmeter {

// The host's first IPv4 address; 0.0.0.0 when it does not resolve.
inline FaultIpAddress ResolveIpv4(const std::string& host) {
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

// The socket address of an IPv4 address and a port.
inline sockaddr_in Ipv4SocketAddress(const FaultIpAddress& address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&peer.sin_addr, address.data(), 4);
    return peer;
}

// The machine's network host name; "localhost" when it has none.
inline std::string NetworkHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) {
        return "localhost";
    }
    return name;
}

}  // namespace packmeter
