#include "platform/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace qm::platform {

namespace {

// The socket error behind the step just run on this thread; a session runs
// its steps on one thread, and reads this right after each.
thread_local int tlsSocketErrno = 0;

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when
// the peer has gone; this one sends with MSG_NOSIGNAL instead, and keeps
// the socket's errno for the failure text.
int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int LinkWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::send(SocketOf(bio), data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
        else tlsSocketErrno = errno;
        return -1;
    }
}

int LinkRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::recv(SocketOf(bio), data, size_t(length), MSG_DONTWAIT);
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
        else tlsSocketErrno = errno;
        return -1;
    }
}

long LinkControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int LinkCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* LinkMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillmark socket");
        if (m) {
            BIO_meth_set_write(m, LinkWrite);
            BIO_meth_set_read(m, LinkRead);
            BIO_meth_set_ctrl(m, LinkControl);
            BIO_meth_set_create(m, LinkCreate);
        }
        return m;
    }();
    return method;
}

// The oldest error OpenSSL queued on this thread, in words ("wrong version
// number"); the queue is emptied.
std::string TakeErrorText() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return {};
    if (const char* reason = ERR_reason_error_string(code)) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::string FileProblem(const char* what, const std::string& path) {
    std::string reason = TakeErrorText();
    return std::string(what) + " " + path + (reason.empty() ? "" : ": " + reason);
}

}  // namespace

TlsContext::TlsContext() = default;
TlsContext::~TlsContext() { Reset(); }

TlsContext::TlsContext(TlsContext&& o) noexcept
    : ctx_(std::exchange(o.ctx_, nullptr)), role_(o.role_), verifiesPeers_(o.verifiesPeers_) {}

TlsContext& TlsContext::operator=(TlsContext&& o) noexcept {
    if (this != &o) {
        Reset();
        ctx_ = std::exchange(o.ctx_, nullptr);
        role_ = o.role_;
        verifiesPeers_ = o.verifiesPeers_;
    }
    return *this;
}

void TlsContext::Reset() {
    if (ctx_) SSL_CTX_free(ctx_);
    ctx_ = nullptr;
    verifiesPeers_ = false;
}

namespace {

// What both sides share: TLS 1.2 at least, writes that may be resumed from
// a moved buffer, and an end of the stream without a close alert read as an
// end (syslog senders close their sockets without one).
SSL_CTX* NewContext(const SSL_METHOD* method, std::string& error) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(method);
    if (!ctx) {
        error = "cannot make a TLS context: " + TakeErrorText();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    return ctx;
}

std::string LoadOwnCertificate(SSL_CTX* ctx, const TlsFiles& files) {
    if (SSL_CTX_use_certificate_chain_file(ctx, files.certificate.c_str()) != 1)
        return FileProblem("cannot read the certificate file", files.certificate);
    const std::string& key = files.key.empty() ? files.certificate : files.key;
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1)
        return FileProblem("cannot use the key file", key);
    if (SSL_CTX_check_private_key(ctx) != 1) return "the key in " + key + " does not belong to the certificate";
    return {};
}

}  // namespace

std::string TlsContext::OpenServer(const TlsFiles& files) {
    Reset();
    if (files.certificate.empty()) return "no certificate file is set";
    std::string error;
    SSL_CTX* ctx = NewContext(TLS_server_method(), error);
    if (!ctx) return error;
    error = LoadOwnCertificate(ctx, files);
    if (error.empty() && !files.ca.empty()) {
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(files.ca.c_str());
        if (!names || SSL_CTX_load_verify_locations(ctx, files.ca.c_str(), nullptr) != 1) {
            if (names) sk_X509_NAME_pop_free(names, X509_NAME_free);
            error = FileProblem("cannot read the CA file", files.ca);
        } else {
            // Told to clients, so one with several certificates picks the right one.
            SSL_CTX_set_client_CA_list(ctx, names);
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
            verifiesPeers_ = true;
        }
    }
    if (!error.empty()) {
        SSL_CTX_free(ctx);
        verifiesPeers_ = false;
        return error;
    }
    // Resumed sessions carry the client's checked certificate; OpenSSL
    // refuses to resume without a context id once clients are verified.
    static const unsigned char kSessionContext[] = "quillmark";
    SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
    ctx_ = ctx;
    role_ = TlsRole::kServer;
    return {};
}

std::string TlsContext::OpenClient(const TlsFiles& files) {
    Reset();
    std::string error;
    SSL_CTX* ctx = NewContext(TLS_client_method(), error);
    if (!ctx) return error;
    if (!files.certificate.empty()) error = LoadOwnCertificate(ctx, files);
    if (error.empty()) {
        const bool loaded = files.ca.empty() ? SSL_CTX_set_default_verify_paths(ctx) == 1
                                             : SSL_CTX_load_verify_locations(ctx, files.ca.c_str(), nullptr) == 1;
        if (!loaded) error = FileProblem("cannot read the CA file", files.ca.empty() ? "(system)" : files.ca);
    }
    if (!error.empty()) {
        SSL_CTX_free(ctx);
        return error;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    ctx_ = ctx;
    role_ = TlsRole::kClient;
    return {};
}

TlsSession::TlsSession() = default;

TlsSession::~TlsSession() {
    if (ssl_) SSL_free(ssl_);
}

std::string TlsSession::Open(const TlsContext& context, int fd) {
    if (!context.IsOpen()) return "no TLS context";
    if (ssl_) SSL_free(ssl_);
    broken_ = false;
    failure_.clear();
    ERR_clear_error();
    ssl_ = SSL_new(context.ctx_);
    BIO* link = LinkMethod() ? BIO_new(LinkMethod()) : nullptr;
    if (!ssl_ || !link) {
        if (link) BIO_free(link);
        failure_ = "cannot start a TLS session: " + TakeErrorText();
        return failure_;
    }
    BIO_set_data(link, reinterpret_cast<void*>(intptr_t(fd)));
    SSL_set_bio(ssl_, link, link);  // the session owns the BIO from here
    if (context.Role() == TlsRole::kServer) SSL_set_accept_state(ssl_);
    else SSL_set_connect_state(ssl_);
    return {};
}

std::string TlsSession::ExpectServerName(std::string_view host) {
    if (!ssl_) return "no TLS session";
    const std::string name(host);
    ERR_clear_error();
    // An address literal is checked against the certificate's addresses,
    // and is no name to send.
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1) return {};
    if (SSL_set_tlsext_host_name(ssl_, name.c_str()) != 1 || SSL_set1_host(ssl_, name.c_str()) != 1)
        return "cannot check the server name " + name + ": " + TakeErrorText();
    return {};
}

TlsStatus TlsSession::Result(int rc, const char* step) {
    const int code = SSL_get_error(ssl_, rc);
    switch (code) {
        case SSL_ERROR_NONE: return TlsStatus::kOk;
        case SSL_ERROR_WANT_READ: return TlsStatus::kWantRead;
        case SSL_ERROR_WANT_WRITE: return TlsStatus::kWantWrite;
        case SSL_ERROR_ZERO_RETURN:
            ERR_clear_error();
            failure_ = std::string("the peer closed the connection during the ") + step;
            return TlsStatus::kClosed;
        default: break;
    }
    std::string reason = TakeErrorText();
    if (code == SSL_ERROR_SYSCALL) {
        if (tlsSocketErrno != 0) reason = std::strerror(tlsSocketErrno);
        else if (reason.empty()) {
            failure_ = std::string("the peer closed the connection during the ") + step;
            return TlsStatus::kClosed;
        }
    }
    // A certificate that failed the check says why in its own words.
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK && !SSL_is_init_finished(ssl_))
        reason = "certificate check failed: " + std::string(X509_verify_cert_error_string(verify));
    failure_ = std::string(step) + " failed: " + (reason.empty() ? "unknown error" : reason);
    broken_ = true;
    return TlsStatus::kFailed;
}

TlsStatus TlsSession::Handshake() {
    if (!ssl_) return TlsStatus::kFailed;
    ERR_clear_error();
    tlsSocketErrno = 0;
    return Result(SSL_do_handshake(ssl_), "handshake");
}

bool TlsSession::HandshakeDone() const { return ssl_ && SSL_is_init_finished(ssl_); }

TlsStatus TlsSession::Read(std::span<char> into, size_t& count) {
    count = 0;
    if (!ssl_) return TlsStatus::kFailed;
    ERR_clear_error();
    tlsSocketErrno = 0;
    const TlsStatus status = Result(SSL_read_ex(ssl_, into.data(), into.size(), &count), "read");
    if (status != TlsStatus::kOk) count = 0;
    return status;
}

TlsStatus TlsSession::Write(std::string_view bytes, size_t& count) {
    count = 0;
    if (!ssl_) return TlsStatus::kFailed;
    if (bytes.empty()) return TlsStatus::kOk;
    ERR_clear_error();
    tlsSocketErrno = 0;
    const TlsStatus status = Result(SSL_write_ex(ssl_, bytes.data(), bytes.size(), &count), "write");
    if (status != TlsStatus::kOk) count = 0;
    return status;
}

void TlsSession::Close() {
    if (!ssl_ || broken_ || !SSL_is_init_finished(ssl_)) return;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

bool TlsSession::HasBuffered() const { return ssl_ && (SSL_pending(ssl_) > 0 || SSL_has_pending(ssl_) == 1); }

uint64_t TlsSession::BytesFromPeer() const { return ssl_ ? BIO_number_read(SSL_get_rbio(ssl_)) : 0; }

std::string TlsSession::Version() const { return ssl_ ? SSL_get_version(ssl_) : ""; }

std::string TlsSession::PeerSubject() const {
    if (!ssl_) return {};
    X509* peer = SSL_get1_peer_certificate(ssl_);
    if (!peer) return {};
    std::string out;
    if (BIO* text = BIO_new(BIO_s_mem())) {
        X509_NAME_print_ex(text, X509_get_subject_name(peer), 0, XN_FLAG_RFC2253);
        char* data = nullptr;
        const long length = BIO_get_mem_data(text, &data);
        if (length > 0) out.assign(data, size_t(length));
        BIO_free(text);
    }
    X509_free(peer);
    return out;
}

bool KeyFileOpenToOthers(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace qm::platform
