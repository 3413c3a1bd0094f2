// The mail client's connection on POSIX sockets, switched to TLS by OpenSSL.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fault_socket_address.hpp"
#include "platform/linux/exceptlog/fault_mail_linux.hpp"

namespace packmeter {

namespace {

struct SslContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

std::string SslErrorText() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        text += (text.empty() ? "" : "; ") + std::string(line);
    }
    return text.empty() ? "TLS failure" : text;
}

class PosixSocketLayer final : public FaultSocketLayer {
  public:
    ~PosixSocketLayer() override {
        std::string ignored;
        Close(ignored);
    }

    bool Startup(std::string&) override { return true; }
    bool Cleanup(std::string&) override { return true; }

    bool Open() override {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return fd_ >= 0;
    }

    FaultIpAddress Resolve(const std::string& host) override { return ResolveIpv4(host); }

    bool Connect(const FaultIpAddress& address, int port, int timeoutMs,
                 std::string& error) override {
        // Every blocking receive and send, the TLS handshake's included, gives up after the
        // time-out; the connection itself is waited for by poll, since a host that drops the
        // request would otherwise keep connect() busy for minutes.
        const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const sockaddr_in peer = Ipv4SocketAddress(address, port);
        const int flags = ::fcntl(fd_, F_GETFL);
        ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
        int result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        if (result != 0 && errno == EINPROGRESS) {
            pollfd wait{fd_, POLLOUT, 0};
            result = ::poll(&wait, 1, timeoutMs);
            int failure = ETIMEDOUT;
            socklen_t size = sizeof failure;
            if (result == 1) {
                ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &failure, &size);
            }
            errno = failure;
            result = failure == 0 ? 0 : -1;
        }
        ::fcntl(fd_, F_SETFL, flags);
        if (result != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool Close(std::string& error) override {
        ssl_.reset();
        context_.reset();
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }

    long Send(std::string_view data, std::string& error) override {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const char* from = data.data() + sent;
            const int size = static_cast<int>(data.size() - sent);
            long count = 0;
            if (ssl_) {
                count = SSL_write(ssl_.get(), from, size);
                if (count <= 0) {
                    error = SslErrorText();
                    return -1;
                }
            } else {
                // No SIGPIPE when the server has gone: the process may be reporting a fault.
                count = ::send(fd_, from, static_cast<std::size_t>(size), MSG_NOSIGNAL);
                if (count < 0 && errno == EINTR) {
                    continue;
                }
                if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    break;  // the time-out: a short send
                }
                if (count < 0) {
                    error = std::strerror(errno);
                    return -1;
                }
            }
            sent += static_cast<std::size_t>(count);
        }
        return static_cast<long>(sent);
    }

    ReadResult Read(std::string& data, std::string& error) override {
        char buffer[4096];
        if (ssl_) {
            pollfd wait{fd_, POLLIN, 0};
            if (SSL_pending(ssl_.get()) <= 0 && ::poll(&wait, 1, 0) != 1) {
                return ReadResult::kNothing;
            }
            const int count = SSL_read(ssl_.get(), buffer, sizeof buffer);
            if (count > 0) {
                data.assign(buffer, static_cast<std::size_t>(count));
                return ReadResult::kData;
            }
            switch (SSL_get_error(ssl_.get(), count)) {
                case SSL_ERROR_WANT_READ:
                case SSL_ERROR_WANT_WRITE:
                    return ReadResult::kNothing;  // a record without data, such as a ticket
                case SSL_ERROR_ZERO_RETURN:
                    return ReadResult::kClosed;
                default:
                    error = SslErrorText();
                    return ReadResult::kError;
            }
        }
        const long count = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0) {
            data.assign(buffer, static_cast<std::size_t>(count));
            return ReadResult::kData;
        }
        if (count == 0) {
            return ReadResult::kClosed;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return ReadResult::kNothing;
        }
        error = std::strerror(errno);
        return ReadResult::kError;
    }

    bool StartTls(const std::string& host, std::string& error) override {
        context_.reset(SSL_CTX_new(TLS_client_method()));
        if (!context_) {
            error = SslErrorText();
            return false;
        }
        // The system's trusted certificates (SSL_CERT_FILE and SSL_CERT_DIR may name others).
        SSL_CTX_set_default_verify_paths(context_.get());
        SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
        // A record without data (a session ticket) ends SSL_read instead of blocking for more.
        SSL_CTX_clear_mode(context_.get(), SSL_MODE_AUTO_RETRY);
        ssl_.reset(SSL_new(context_.get()));
        if (!ssl_ || SSL_set_fd(ssl_.get(), fd_) != 1) {
            error = SslErrorText();
            return false;
        }
        in_addr numeric{};
        if (::inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl_.get(), host.c_str());
            SSL_set1_host(ssl_.get(), host.c_str());
        }
        if (SSL_connect(ssl_.get()) != 1) {
            const long verified = SSL_get_verify_result(ssl_.get());
            error =
                verified != X509_V_OK ? X509_verify_cert_error_string(verified) : SslErrorText();
            ssl_.reset();
            return false;
        }
        return true;
    }

    std::string LocalHostName() override { return NetworkHostName(); }

  private:
    int fd_ = -1;
    std::unique_ptr<SSL_CTX, SslContextFree> context_;
    std::unique_ptr<SSL, SslFree> ssl_;
};

}  // namespace

std::unique_ptr<FaultSocketLayer> CreatePosixSocketLayer() {
    return std::make_unique<PosixSocketLayer>();
}

}  // namespace packmeter
