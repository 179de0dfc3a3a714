// FTP over TLS on Linux: OpenSSL 3 over the sockets of Socket.cpp.
#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <string>

#include "ftp/FtpClient.h"
#include "host/posix/ftp/Socket.h"

namespace kadroo::posix {
namespace {

using ftp::Deadline;
using ftp::Endpoint;

bool IsAddress(const std::string& host) {
  unsigned char buffer[16];
  return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// WinINet's code for why a certificate did not verify.
int32_t ErrorForVerify(long result) {
  switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH: case X509_V_ERR_IP_ADDRESS_MISMATCH: case X509_V_ERR_EMAIL_MISMATCH:
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_HAS_EXPIRED: case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD: case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT: case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_INVALID_CA:
      return ERROR_INTERNET_INVALID_CA;
    case X509_V_ERR_CERT_REVOKED:
      return ERROR_INTERNET_SEC_CERT_REVOKED;
    default:
      return ERROR_INTERNET_SEC_INVALID_CERT;
  }
}

// Runs one step of OpenSSL until it is done or `deadline` passed, waiting on the socket as it asks.
template <typename Step>
int Drive(SSL* ssl, int fd, Deadline deadline, Step step, int32_t& waitError) {
  for (;;) {
    ERR_clear_error();
    const int r = step();
    if (r > 0) return r;
    const int e = SSL_get_error(ssl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      if ((waitError = WaitFor(fd, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline))) return -1;
      continue;
    }
    return e == SSL_ERROR_ZERO_RETURN ? 0 : -e;
  }
}

class TlsStream final : public PosixStream {
 public:
  TlsStream(std::unique_ptr<ftp::Stream> inner, SSL* ssl) : inner_(std::move(inner)), ssl_(ssl) {}
  ~TlsStream() override { SSL_free(ssl_); }

  int32_t Read(char* data, size_t size, Deadline deadline, size_t& got) override {
    got = 0;
    int32_t waitError = 0;
    const int r = Drive(ssl_, fd(), deadline, [&] { return SSL_read_ex(ssl_, data, size, &got) ? 1 : 0; },
                        waitError);
    if (r > 0) {
      // Whole records already received fill the rest of the buffer without waiting: fewer, larger writes.
      for (size_t more = 0; got < size && SSL_read_ex(ssl_, data + got, size - got, &more);) got += more;
      ERR_clear_error();
      return 0;
    }
    if (r == 0) {  // the server's close_notify, or the end of the socket (see SecureData)
      // A connection freed before it is shut down both ways loses its ticket (OpenSSL marks the session not
      // resumable), and the next connection to the server would then need a full handshake. Nothing is left to
      // say after the server's close_notify, so the shutdown is recorded without a reply.
      if (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) {
        SSL_set_quiet_shutdown(ssl_, 1);
        SSL_shutdown(ssl_);
      }
      return 0;
    }
    got = 0;
    if (waitError) return waitError;
    return r == -SSL_ERROR_SYSCALL && errno ? ErrorFromSocket(errno) : ERROR_INTERNET_CONNECTION_ABORTED;
  }

  int32_t Write(const char* data, size_t size, Deadline deadline) override {
    int32_t waitError = 0;
    size_t written = 0;
    const int r = Drive(ssl_, fd(), deadline, [&] { return SSL_write_ex(ssl_, data, size, &written) ? 1 : 0; },
                        waitError);
    if (r > 0) return 0;
    if (waitError) return waitError;
    return r == -SSL_ERROR_SYSCALL && errno ? ErrorFromSocket(errno) : ERROR_INTERNET_CONNECTION_ABORTED;
  }

  // close_notify, then the socket's own end, then what the server still sends (a session ticket, its own
  // close_notify) until it closes: closing a socket with unread bytes would reset the connection, and the server
  // would count the upload as broken. The socket is closed only after the server's end has arrived too: vsftpd
  // waits for its end to be acknowledged before it answers 226, and an end that reaches a socket closed just
  // before went unacknowledged until the server sent it again, 200 ms later. A server that keeps its end open
  // is waited for a second at most.
  int32_t Shutdown(Deadline deadline) override {
    int32_t waitError = 0;
    const int r = Drive(ssl_, fd(), deadline, [&] { return SSL_shutdown(ssl_) >= 0 ? 1 : -1; }, waitError);
    if (r < 0) return waitError ? waitError : ERROR_INTERNET_CONNECTION_ABORTED;
    if (int32_t err = inner_->Shutdown(deadline)) return err;
    // Read through TLS, so that a ticket the server sent here is kept for the next data connection.
    char buffer[4096];
    for (size_t got = 1; got > 0;) {
      if (Read(buffer, sizeof buffer, deadline, got)) break;
    }
    const Deadline end = std::min(deadline, ftp::Clock::now() + std::chrono::seconds(1));
    for (size_t got = 1; got > 0;) {
      if (inner_->Read(buffer, sizeof buffer, end, got)) break;
    }
    return 0;
  }

  Endpoint Peer() const override { return inner_->Peer(); }
  Endpoint Local() const override { return inner_->Local(); }
  int fd() const override { return DescriptorOf(*inner_); }

 private:
  std::unique_ptr<ftp::Stream> inner_;
  SSL* ssl_;
};

}  // namespace

// What every FTP session of the process shares: a context for each kind of check, the system's trust store read
// once, and the newest session of each server's last control connection, which the next control connection to
// it resumes (the edit cycle opens several).
class OpenSslClient {
 public:
  ~OpenSslClient() {
    for (auto& [key, session] : resumable_) SSL_SESSION_free(session);
    for (SSL_CTX* context : contexts_) SSL_CTX_free(context);
  }

  // With a pin the certificate is compared after the handshake; without one, OpenSSL refuses it in the handshake.
  SSL_CTX* Context(bool pinned) {
    SSL_CTX*& context = contexts_[pinned ? 1 : 0];
    if (context) return context;
    context = SSL_CTX_new(TLS_client_method());
    if (!context) return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Records read from the socket in large pieces rather than one read for each header and each body.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, 256 << 10);
    SSL_CTX_set_verify(context, pinned ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context, &NewSession);
    SSL_CTX_set_client_cert_cb(context, &ClientCertificate);
    if (!pinned && SSL_CTX_set_default_verify_paths(context) != 1) {
      SSL_CTX_free(context);
      context = nullptr;
    }
    return context;
  }

  SSL_SESSION* Resumable(const std::string& key) {
    const auto found = resumable_.find(key);
    return found == resumable_.end() ? nullptr : found->second;
  }
  // The key exchange group the server chose last time goes first, so that the client's first key share is one
  // the server takes: otherwise a server that does not take OpenSSL's first choice (vsftpd takes P-256 only)
  // asks again, which costs a round trip and a second key on every connection.
  void PreferGroup(SSL* ssl, const std::string& key) const {
    const auto found = groups_.find(key);
    if (found == groups_.end()) return;
    int groups[std::size(kDefaultGroups) + 1] = {found->second};
    size_t count = 1;
    for (int group : kDefaultGroups) {
      if (group != found->second) groups[count++] = group;
    }
    SSL_set1_groups(ssl, groups, count);
  }
  void RememberGroup(SSL* ssl, const std::string& key) {
    if (const int group = SSL_get_negotiated_group(ssl); group > 0) groups_[key] = group;
  }

  void Keep(const std::string& key, SSL_SESSION* session) {
    SSL_SESSION_up_ref(session);
    SSL_SESSION*& kept = resumable_[key];
    if (kept) SSL_SESSION_free(kept);
    kept = session;
  }

 private:
  static int NewSession(SSL* ssl, SSL_SESSION* session);
  static int ClientCertificate(SSL* ssl, X509**, EVP_PKEY**);

  // OpenSSL 3's own default list, in its order.
  static constexpr int kDefaultGroups[] = {NID_X25519,   NID_X9_62_prime256v1, NID_X448,      NID_secp521r1,
                                           NID_secp384r1, NID_ffdhe2048,        NID_ffdhe3072, NID_ffdhe4096,
                                           NID_ffdhe6144, NID_ffdhe8192};

  SSL_CTX* contexts_[2] = {};
  std::map<std::string, SSL_SESSION*> resumable_;
  std::map<std::string, int> groups_;
};

namespace {

class OpenSslSession final : public ftp::TlsSession {
 public:
  OpenSslSession(OpenSslClient& client, ftp::TlsDemand demand) : client_(client), demand_(std::move(demand)) {
    if (demand_.pin) {
      for (uint8_t byte : *demand_.pin) key_ += static_cast<char>(byte);
    }
  }
  ~OpenSslSession() override {
    if (newest_) SSL_SESSION_free(newest_);
  }

  int32_t SecureControl(std::unique_ptr<ftp::Stream>& stream, Deadline deadline) override {
    key_ = demand_.host + " " + std::to_string(stream->Peer().port) + " " + key_;
    return Secure(stream, deadline, false);
  }
  int32_t SecureData(std::unique_ptr<ftp::Stream>& stream, Deadline deadline) override {
    return Secure(stream, deadline, true);
  }

  // Keeps the newest ticket: with TLS 1.3 each is for one use, and the server sends them after the handshake.
  void NewSession(SSL_SESSION* session) {
    if (newest_) SSL_SESSION_free(newest_);
    newest_ = session;
    client_.Keep(key_, session);
  }
  bool certificateWanted = false;

 private:
  int32_t Secure(std::unique_ptr<ftp::Stream>& stream, Deadline deadline, bool data) {
    const int fd = DescriptorOf(*stream);
    SSL_CTX* context = client_.Context(demand_.pin.has_value());
    SSL* ssl = fd < 0 || !context ? nullptr : SSL_new(context);
    if (!ssl) return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    auto tls = std::make_unique<TlsStream>(std::move(stream), ssl);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    SSL_set_fd(ssl, fd);
    SSL_set_app_data(ssl, this);
    if (!demand_.pin) {
      if (IsAddress(demand_.host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), demand_.host.c_str());
      } else {
        SSL_set1_host(ssl, demand_.host.c_str());
        SSL_set_tlsext_host_name(ssl, demand_.host.c_str());
      }
    }
    // A server that ends a download without close_notify: the 226 and the announced size judge it.
    if (data) SSL_set_options(ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (SSL_SESSION* resume = data ? newest_ : client_.Resumable(key_)) SSL_set_session(ssl, resume);
    client_.PreferGroup(ssl, key_);
    int32_t waitError = 0;
    const int r = Drive(ssl, fd, deadline, [&] { return SSL_connect(ssl); }, waitError);
    if (r > 0) client_.RememberGroup(ssl, key_);
    if (r <= 0) {
      if (waitError) return waitError;
      if (SSL_get_verify_result(ssl) != X509_V_OK) return ErrorForVerify(SSL_get_verify_result(ssl));
      return certificateWanted ? ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED : ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    }
    if (demand_.pin) {
      X509* certificate = SSL_get1_peer_certificate(ssl);
      ftp::Fingerprint digest{};
      unsigned length = 0;
      const bool digested = certificate && X509_digest(certificate, EVP_sha256(), digest.data(), &length) == 1 &&
                            length == digest.size();
      X509_free(certificate);
      if (!digested || digest != *demand_.pin) return ERROR_INTERNET_SEC_INVALID_CERT;
    } else if (SSL_get_verify_result(ssl) != X509_V_OK) {
      return ErrorForVerify(SSL_get_verify_result(ssl));
    }
    stream = std::move(tls);
    return 0;
  }

  OpenSslClient& client_;
  ftp::TlsDemand demand_;
  std::string key_;  // the server and the pin: which control connections may resume each other's sessions
  SSL_SESSION* newest_ = nullptr;
};

}  // namespace

int OpenSslClient::NewSession(SSL* ssl, SSL_SESSION* session) {
  if (!SSL_SESSION_is_resumable(session)) return 0;
  static_cast<OpenSslSession*>(SSL_get_app_data(ssl))->NewSession(session);
  return 1;
}

int OpenSslClient::ClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
  static_cast<OpenSslSession*>(SSL_get_app_data(ssl))->certificateWanted = true;
  return 0;
}

PosixNetwork::PosixNetwork() = default;
PosixNetwork::~PosixNetwork() = default;

int32_t PosixNetwork::StartTls(const ftp::TlsDemand& demand, std::unique_ptr<ftp::TlsSession>& out) {
  if (!tls_) tls_ = std::make_unique<OpenSslClient>();
  out = std::make_unique<OpenSslSession>(*tls_, demand);
  return 0;
}

}  // namespace kadroo::posix
