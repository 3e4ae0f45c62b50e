#pragma once
// TLS over a non-blocking TCP socket, the only place the program calls
// OpenSSL. A context holds what one side shows and whom it trusts (its
// certificate and key, a CA file); a session runs the protocol on one
// connected socket. Every step returns at once: kWantRead or kWantWrite say
// what the socket must be ready for before the same step is tried again, so
// one event loop can run many sessions. Failures come with a reason in words
// (OpenSSL's, or the certificate check's), for an event a person reads.
//
// A context may be shared by sessions on several threads once opened; a
// session belongs to one thread at a time. A session never owns its socket:
// the descriptor stays with whoever accepted or connected it, and must
// outlive the session's use of it. Writes never raise SIGPIPE.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;

namespace qm::platform {

// PEM files, as paths the caller has made absolute.
struct TlsFiles {
    std::string certificate;  // the certificate, optionally followed by its chain
    std::string key;          // its private key
    std::string ca;           // the certificates a peer's must chain to
};

enum class TlsRole : uint8_t { kServer, kClient };

class TlsContext {
public:
    TlsContext();
    ~TlsContext();
    TlsContext(TlsContext&&) noexcept;
    TlsContext& operator=(TlsContext&&) noexcept;
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // A server's: the certificate and key are required; with a CA file,
    // every client must show a certificate that chains to it. TLS 1.2 and
    // later. Empty, or why it cannot be made.
    std::string OpenServer(const TlsFiles& files);
    // A client's: the server's certificate must chain to the CA file (the
    // system's trusted certificates when it is empty); a certificate and
    // key, when given, are shown to a server that asks for one. TLS 1.2 and
    // later. Empty, or why it cannot be made.
    std::string OpenClient(const TlsFiles& files);

    bool IsOpen() const { return ctx_ != nullptr; }
    TlsRole Role() const { return role_; }
    // A server's: clients must show a certificate.
    bool VerifiesPeers() const { return verifiesPeers_; }

private:
    friend class TlsSession;
    void Reset();

    ssl_ctx_st* ctx_ = nullptr;
    TlsRole role_ = TlsRole::kServer;
    bool verifiesPeers_ = false;
};

enum class TlsStatus : uint8_t {
    kOk,         // the step is done (a read: `count` bytes came)
    kWantRead,   // try the same step again once the socket is readable
    kWantWrite,  // ... once it is writable
    kClosed,     // the peer ended the session or closed its socket
    kFailed,     // see Failure()
};

class TlsSession {
public:
    TlsSession();
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Takes the role of the context on the connected socket `fd` (not
    // owned). The context must stay open while the session lives. Empty or
    // why.
    std::string Open(const TlsContext& context, int fd);
    // A client's, before the handshake: the name sent to the server and
    // checked against its certificate (an address literal is checked as an
    // address). Empty or why.
    std::string ExpectServerName(std::string_view host);

    TlsStatus Handshake();
    bool HandshakeDone() const;
    // Decrypted bytes into `into`; `count` is how many (only with kOk).
    TlsStatus Read(std::span<char> into, size_t& count);
    // Sends what fits of `bytes`; `count` is how many were taken (only with
    // kOk). The rest goes with a later call: after kWantRead or kWantWrite,
    // call again with the same bytes.
    TlsStatus Write(std::string_view bytes, size_t& count);
    // Sends the close alert when the socket takes it at once; the socket is
    // closed by its owner afterwards either way.
    void Close();

    // Decrypted bytes waiting inside the session: the socket may have nothing
    // to report while these are there, so a reader that stopped early comes
    // back for them without waiting for the socket.
    bool HasBuffered() const;
    // Why the last step failed (or what closed the session).
    const std::string& Failure() const { return failure_; }
    // Bytes taken from the socket so far: 0 after a failed handshake means
    // the peer said nothing at all (a port probe, not a TLS client).
    uint64_t BytesFromPeer() const;
    // After the handshake: "TLSv1.3" and the like, and the subject of the
    // peer's certificate ("CN=host"), empty when it showed none.
    std::string Version() const;
    std::string PeerSubject() const;

private:
    TlsStatus Result(int rc, const char* step);

    ssl_st* ssl_ = nullptr;
    std::string failure_;
    bool broken_ = false;  // a step failed: OpenSSL must not be asked to close it
};

// Whether a key file can be read by its group or by everyone, which a
// private key should not be. False also when it cannot be looked at.
bool KeyFileOpenToOthers(const std::string& path);

}  // namespace qm::platform
