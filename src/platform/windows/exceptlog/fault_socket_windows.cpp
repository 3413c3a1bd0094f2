// The mail client's connection on Windows sockets, switched to TLS by Schannel.

#include <winsock2.h>
// After winsock2.h, which they need.
#include <wincrypt.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/fault_socket_address.hpp"
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
    WinsockLayer() = default;
    WinsockLayer(const WinsockLayer&) = delete;
    WinsockLayer& operator=(const WinsockLayer&) = delete;

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

    FaultIpAddress Resolve(const std::string& host) override { return ResolveIpv4(host); }

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
        const sockaddr_in peer = Ipv4SocketAddress(address, port);
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
        EndTls();
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
        if (secure_) {
            return SendSecure(data, error);
        }
        return SendRaw(data, error);
    }

    long SendRaw(std::string_view data, std::string& error) {
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
        if (secure_) {
            return ReadSecure(data, error);
        }
        return ReadRaw(data, error);
    }

    ReadResult ReadRaw(std::string& data, std::string& error) {
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

    bool StartTls(const std::string& host, std::string& error) override {
        SCHANNEL_CRED settings{};
        settings.dwVersion = SCHANNEL_CRED_VERSION;
        settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        // The certificate is checked below, against the host name, by the system's chain.
        settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        SECURITY_STATUS status = ::AcquireCredentialsHandleW(
            nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &settings,
            nullptr, nullptr, &credentials_, nullptr);
        if (status != SEC_E_OK) {
            error = FaultSystemErrorText(static_cast<unsigned long>(status));
            return false;
        }
        haveCredentials_ = true;
        std::wstring target = FaultWide(host);
        const ULONG wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                             ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                             ISC_REQ_MANUAL_CRED_VALIDATION;
        std::string in;
        bool needMore = false;
        for (;;) {
            if (needMore && !ReceiveMore(in, error)) {
                return false;
            }
            SecBuffer inBuffers[2] = {
                {static_cast<ULONG>(in.size()), SECBUFFER_TOKEN, in.data()},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc input{SECBUFFER_VERSION, 2, inBuffers};
            SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc output{SECBUFFER_VERSION, 1, &outBuffer};
            ULONG granted = 0;
            status = ::InitializeSecurityContextW(
                &credentials_, haveContext_ ? &context_ : nullptr, target.data(), wanted, 0, 0,
                haveContext_ ? &input : nullptr, 0, haveContext_ ? nullptr : &context_, &output,
                &granted, nullptr);
            haveContext_ = true;
            if (outBuffer.cbBuffer && outBuffer.pvBuffer) {
                const std::string token(static_cast<const char*>(outBuffer.pvBuffer),
                                        outBuffer.cbBuffer);
                ::FreeContextBuffer(outBuffer.pvBuffer);
                if (SendRaw(token, error) != static_cast<long>(token.size())) {
                    error = error.empty() ? "The TLS handshake could not be sent." : error;
                    return false;
                }
            }
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needMore = true;
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
                error = FaultSystemErrorText(static_cast<unsigned long>(status));
                return false;
            }
            // Bytes past this handshake message belong to the next one, or to the data.
            in = inBuffers[1].BufferType == SECBUFFER_EXTRA
                     ? in.substr(in.size() - inBuffers[1].cbBuffer)
                     : std::string{};
            if (status == SEC_E_OK) {
                incoming_ = std::move(in);
                break;
            }
            needMore = in.empty();
        }
        if (!VerifyServer(target, error)) {
            return false;
        }
        ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        secure_ = true;
        return true;
    }

    std::string LocalHostName() override { return NetworkHostName(); }

  private:
    // Appends what the server sends next, waiting for it up to the time-out.
    bool ReceiveMore(std::string& in, std::string& error) {
        char buffer[8192];
        const int count = ::recv(socket_, buffer, sizeof buffer, 0);
        if (count > 0) {
            in.append(buffer, static_cast<std::size_t>(count));
            return true;
        }
        error = count == 0 ? "The server closed the connection." : LastSocketError();
        return false;
    }

    // The server's certificate chain must end at a trusted root and name the host.
    bool VerifyServer(std::wstring& host, std::string& error) {
        PCCERT_CONTEXT certificate = nullptr;
        if (::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
                SEC_E_OK ||
            !certificate) {
            error = "The server sent no certificate.";
            return false;
        }
        LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
        CERT_CHAIN_PARA chainPara{};
        chainPara.cbSize = sizeof chainPara;
        chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
        chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
        chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        DWORD failure = 0;
        if (!::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                       &chainPara, 0, nullptr, &chain)) {
            failure = ::GetLastError();
        } else {
            HTTPSPolicyCallbackData server{};
            server.cbStruct = sizeof server;
            server.dwAuthType = AUTHTYPE_SERVER;
            server.pwszServerName = host.data();
            CERT_CHAIN_POLICY_PARA policy{};
            policy.cbSize = sizeof policy;
            policy.pvExtraPolicyPara = &server;
            CERT_CHAIN_POLICY_STATUS result{};
            result.cbSize = sizeof result;
            if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy,
                                                    &result)) {
                failure = ::GetLastError();
            } else {
                failure = result.dwError;
            }
            ::CertFreeCertificateChain(chain);
        }
        ::CertFreeCertificateContext(certificate);
        if (failure != 0) {
            error = FaultSystemErrorText(failure);
            return false;
        }
        return true;
    }

    long SendSecure(std::string_view data, std::string& error) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const std::size_t size =
                std::min<std::size_t>(data.size() - sent, sizes_.cbMaximumMessage);
            std::string record(sizes_.cbHeader + size + sizes_.cbTrailer, '\0');
            std::memcpy(record.data() + sizes_.cbHeader, data.data() + sent, size);
            SecBuffer buffers[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<ULONG>(size), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
                 record.data() + sizes_.cbHeader + size},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &message, 0);
            if (status != SEC_E_OK) {
                error = FaultSystemErrorText(static_cast<unsigned long>(status));
                return -1;
            }
            record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
            const long count = SendRaw(record, error);
            if (count != static_cast<long>(record.size())) {
                return count < 0 ? -1 : static_cast<long>(sent);
            }
            sent += size;
        }
        return static_cast<long>(sent);
    }

    ReadResult ReadSecure(std::string& data, std::string& error) {
        for (;;) {
            if (!incoming_.empty()) {
                SecBuffer buffers[4] = {
                    {static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                };
                SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
                const SECURITY_STATUS status = ::DecryptMessage(&context_, &message, 0, nullptr);
                if (status == SEC_E_OK) {
                    // Decrypted in place: copy out the data and the bytes of the next record.
                    std::string plain;
                    std::string extra;
                    for (const auto& buffer : buffers) {
                        if (buffer.BufferType == SECBUFFER_DATA) {
                            plain.assign(static_cast<const char*>(buffer.pvBuffer),
                                         buffer.cbBuffer);
                        } else if (buffer.BufferType == SECBUFFER_EXTRA) {
                            extra.assign(incoming_.data() + incoming_.size() - buffer.cbBuffer,
                                         buffer.cbBuffer);
                        }
                    }
                    incoming_ = std::move(extra);
                    if (!plain.empty()) {
                        data = std::move(plain);
                        return ReadResult::kData;
                    }
                    continue;
                }
                if (status == SEC_I_CONTEXT_EXPIRED) {
                    return ReadResult::kClosed;
                }
                if (status != SEC_E_INCOMPLETE_MESSAGE) {
                    error = FaultSystemErrorText(static_cast<unsigned long>(status));
                    return ReadResult::kError;
                }
            }
            std::string more;
            const ReadResult raw = ReadRaw(more, error);
            if (raw != ReadResult::kData) {
                return raw;
            }
            incoming_ += more;
        }
    }

    void EndTls() {
        secure_ = false;
        if (haveContext_) {
            ::DeleteSecurityContext(&context_);
            haveContext_ = false;
        }
        if (haveCredentials_) {
            ::FreeCredentialsHandle(&credentials_);
            haveCredentials_ = false;
        }
        incoming_.clear();
    }

    SOCKET socket_ = INVALID_SOCKET;
    bool started_ = false;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    bool secure_ = false;
    SecPkgContext_StreamSizes sizes_{};
    // Received bytes not yet decrypted.
    std::string incoming_;
};

}  // namespace

std::unique_ptr<FaultSocketLayer> CreateWinsockLayer() {
    return std::make_unique<WinsockLayer>();
}

}  // namespace packmeter
