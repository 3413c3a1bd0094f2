#pragma once

// The system's sockets as the logger's mail client uses them: one TCP connection, optionally
// switched to TLS. Each platform supplies an implementation.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace packmeter {

using FaultIpAddress = std::array<std::uint8_t, 4>;

class FaultSocketLayer {
  public:
    enum class ReadResult { kData, kNothing, kClosed, kError };

    virtual ~FaultSocketLayer() = default;

    // Starts and releases the system's socket library; false with the system's error text.
    virtual bool Startup(std::string& error) = 0;
    virtual bool Cleanup(std::string& error) = 0;
    // A TCP socket; false when none can be made.
    virtual bool Open() = 0;
    // The host's first IPv4 address; 0.0.0.0 when it does not resolve.
    virtual FaultIpAddress Resolve(const std::string& host) = 0;
    // A blocking connection whose single sends and receives give up after `timeoutMs`.
    virtual bool Connect(const FaultIpAddress& address, int port, int timeoutMs,
                         std::string& error) = 0;
    virtual bool IsOpen() const = 0;
    virtual bool Close(std::string& error) = 0;
    // The number of bytes sent, or -1 with the system's error text.
    virtual long Send(std::string_view data, std::string& error) = 0;
    // What has arrived, without waiting for more.
    virtual ReadResult Read(std::string& data, std::string& error) = 0;
    // Switches the connection to TLS, checking the server's certificate against `host`.
    virtual bool StartTls(const std::string& host, std::string& error) = 0;
    // The machine's network host name.
    virtual std::string LocalHostName() = 0;
};

}  // namespace packmeter
