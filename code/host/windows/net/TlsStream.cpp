#include "host/windows/net/TlsStream.h"

#include <wincrypt.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace kadroo::windows::net {
namespace {

constexpr DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                           ISC_REQ_MANUAL_CRED_VALIDATION;
// TLS 1.2 and later: whatever the machine still allows below that is not offered.
constexpr DWORD kOldProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT |
                                SP_PROT_TLS1_1_CLIENT;
constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS |
                                   SCH_USE_STRONG_CRYPTO;
constexpr size_t kReadChunk = 32 << 10;

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                      static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

struct ContextBuffer {
  void* p = nullptr;
  ~ContextBuffer() {
    if (p) ::FreeContextBuffer(p);
  }
};

// The bytes of `host` when it is an IPv4 or IPv6 address; empty for a name.
std::string AddressBytes(const std::wstring& host) {
  IN6_ADDR v6{};
  if (::InetPtonW(AF_INET6, host.c_str(), &v6) == 1) return std::string(reinterpret_cast<const char*>(&v6), 16);
  IN_ADDR v4{};
  if (::InetPtonW(AF_INET, host.c_str(), &v4) == 1) return std::string(reinterpret_cast<const char*>(&v4), 4);
  return {};
}

// Whether the certificate's subject alternative names hold `address` as an IP address. The SSL policy compares
// only DNS names (Wine's, and older Windows'), while a page may name its server by address.
bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
  const CERT_INFO* info = certificate->pCertInfo;
  const CERT_EXTENSION* extension = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (!extension) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
            std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
  }
  ::LocalFree(names);
  return found;
}

int32_t ErrorForHandshake(SECURITY_STATUS status, bool clientCertAsked) {
  switch (status) {
    case SEC_E_WRONG_PRINCIPAL: return kTlsCertNameInvalid;
    case SEC_E_UNTRUSTED_ROOT: return kTlsInvalidCa;
    case SEC_E_CERT_EXPIRED: return kTlsCertDateInvalid;
    case SEC_E_NO_CREDENTIALS: case SEC_E_INCOMPLETE_CREDENTIALS: return kTlsClientCertNeeded;
    default: return clientCertAsked ? kTlsClientCertNeeded : kTlsChannelError;
  }
}

int32_t ErrorForPolicy(DWORD error) {
  switch (error) {
    case 0: return 0;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH): return kTlsCertNameInvalid;
    case static_cast<DWORD>(CERT_E_EXPIRED): case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
      return kTlsCertDateInvalid;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT): case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDCA): case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
      return kTlsInvalidCa;
    default: return kTlsInvalidCert;
  }
}

}  // namespace

TlsCredentials::~TlsCredentials() {
  if (valid_) ::FreeCredentialsHandle(&handle_);
}

int32_t TlsCredentials::Acquire() {
  if (valid_) return 0;
  TimeStamp expiry{};
  // SCH_CREDENTIALS offers TLS 1.3 where the system has it; systems before it know only SCHANNEL_CRED.
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = kOldProtocols;
  SCH_CREDENTIALS current{};
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.dwFlags = kCredentialFlags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  wchar_t package[] = UNISP_NAME_W;
  SECURITY_STATUS status = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &current,
                                                       nullptr, nullptr, &handle_, &expiry);
  if (status != SEC_E_OK) {
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.dwFlags = kCredentialFlags;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    status = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr, nullptr,
                                         &handle_, &expiry);
  }
  valid_ = status == SEC_E_OK;
  return valid_ ? 0 : kTlsChannelError;
}

TlsStream::TlsStream(TlsCredentials& credentials, std::unique_ptr<ftp::Stream> transport, const std::string& host,
                     std::string pinSha256)
    : credentials_(credentials), transport_(std::move(transport)), target_(Widen(host)), pin_(std::move(pinSha256)) {}

TlsStream::~TlsStream() {
  if (haveContext_) ::DeleteSecurityContext(&context_);
}

int32_t TlsStream::Fill(Deadline deadline) {
  const size_t had = in_.size();
  in_.resize(had + kReadChunk);
  size_t got = 0;
  const int32_t err = transport_->Read(in_.data() + had, kReadChunk, deadline, got);
  in_.resize(had + got);
  if (err) return err;
  return got == 0 ? kTlsChannelError : 0;
}

int32_t TlsStream::SendToken(SecBuffer& token, Deadline deadline) {
  ContextBuffer owned{token.pvBuffer};
  if (!token.pvBuffer || token.cbBuffer == 0) return 0;
  return transport_->Write(static_cast<const char*>(token.pvBuffer), token.cbBuffer, deadline);
}

int32_t TlsStream::Negotiate(Deadline deadline) {
  DWORD request = kRequest;
  DWORD attributes = 0;
  // After the handshake, what DecryptMessage left goes to Schannel first, even nothing: reading before would wait
  // for a server that has nothing more to say.
  const bool first = !haveContext_;
  if (first) {
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    const SECURITY_STATUS status =
        ::InitializeSecurityContextW(credentials_.get(), nullptr, target_.data(), request, 0, 0, nullptr, 0,
                                     &context_, &outDesc, &attributes, nullptr);
    if (status != SEC_I_CONTINUE_NEEDED) {
      ContextBuffer owned{out[0].pvBuffer};
      return ErrorForHandshake(status, false);
    }
    haveContext_ = true;
    if (int32_t err = SendToken(out[0], deadline)) return err;
  }
  bool read = first && in_.empty();
  for (;;) {
    if (read) {
      if (int32_t err = Fill(deadline)) return err;
    }
    read = true;
    SecBuffer in[2] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 2, out};
    const SECURITY_STATUS status =
        ::InitializeSecurityContextW(credentials_.get(), &context_, target_.data(), request, 0, 0, &inDesc, 0,
                                     nullptr, &outDesc, &attributes, nullptr);
    ContextBuffer alert{out[1].pvBuffer};
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      ContextBuffer owned{out[0].pvBuffer};
      continue;
    }
    // A failure's token is the alert that tells the server why.
    const int32_t sent = SendToken(out[0], deadline);
    if (FAILED(status)) return ErrorForHandshake(status, clientCertAsked_);
    if (sent) return sent;
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      // The server asks for a client certificate: go on without one, on the same input.
      if (clientCertAsked_) return kTlsClientCertNeeded;
      clientCertAsked_ = true;
      request |= ISC_REQ_USE_SUPPLIED_CREDS;
      read = false;
      continue;
    }
    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= in_.size()) {
      in_.erase(0, in_.size() - in[1].cbBuffer);
    } else {
      in_.clear();
    }
    if (status == SEC_E_OK) return 0;
    if (status != SEC_I_CONTINUE_NEEDED) return kTlsChannelError;
    read = in_.empty();
  }
}

int32_t TlsStream::CheckCertificate() {
  PCCERT_CONTEXT certificate = nullptr;
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      !certificate) {
    return kTlsChannelError;
  }
  std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)> owned(certificate,
                                                                                    &::CertFreeCertificateContext);
  if (!pin_.empty()) {
    BYTE hash[32];
    DWORD length = sizeof hash;
    if (!::CryptHashCertificate2(L"SHA256", 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded,
                                 hash, &length) ||
        length != sizeof hash) {
      return kTlsChannelError;
    }
    return pin_.size() == sizeof hash && std::memcmp(pin_.data(), hash, sizeof hash) == 0 ? 0 : kTlsInvalidCert;
  }
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                 &chain)) {
    return kTlsChannelError;
  }
  // An address is matched against the certificate's IP addresses here, a name by the policy.
  const std::string address = AddressBytes(target_);
  HTTPSPolicyCallbackData ssl{};
  ssl.cbStruct = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = address.empty() ? target_.data() : nullptr;
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  const BOOL checked = ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
  // The chain's own status first: Wine's SSL policy passes a chain that ends at an unknown issuer.
  const DWORD trust = chain->TrustStatus.dwErrorStatus;
  ::CertFreeCertificateChain(chain);
  if (trust & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_NOT_SIGNATURE_VALID |
               CERT_TRUST_IS_CYCLIC)) {
    return kTlsInvalidCa;
  }
  if (trust & CERT_TRUST_IS_NOT_TIME_VALID) return kTlsCertDateInvalid;
  if (!checked) return kTlsChannelError;
  if (int32_t err = ErrorForPolicy(status.dwError)) return err;
  return address.empty() || NamesAddress(certificate, address) ? 0 : kTlsCertNameInvalid;
}

int32_t TlsStream::Handshake(Deadline deadline) {
  if (int32_t err = credentials_.Acquire()) return err;
  if (int32_t err = Negotiate(deadline)) return err;
  if (int32_t err = CheckCertificate()) {
    // Tell the server, as the connection is given up.
    SendCloseNotify(Clock::now() + std::chrono::seconds(1));
    broken_ = true;
    brokenError_ = err;
    return err;
  }
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) return kTlsChannelError;
  SecPkgContext_SessionInfo session{};
  if (::QueryContextAttributesW(&context_, SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK) {
    resumed_ = (session.dwFlags & SSL_SESSION_RECONNECT) != 0;
  }
  return 0;
}

int32_t TlsStream::Read(char* data, size_t size, Deadline deadline, size_t& got) {
  got = 0;
  for (;;) {
    if (plainAt_ < plain_.size()) {
      got = std::min(size, plain_.size() - plainAt_);
      std::memcpy(data, plain_.data() + plainAt_, got);
      plainAt_ += got;
      return 0;
    }
    if (closed_) return 0;
    if (broken_) return brokenError_;
    if (!in_.empty()) {
      // A TLS 1.2 alert record (content type 21): Wine's Schannel decrypts the peer's close_notify into nothing
      // with SEC_E_OK where Windows says SEC_I_CONTEXT_EXPIRED, and the peer then waits for ours.
      const bool alert = static_cast<unsigned char>(in_[0]) == 21;
      SecBuffer buffers[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, in_.data()},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = ::DecryptMessage(&context_, &desc, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
        plain_.clear();
        plainAt_ = 0;
        size_t extra = 0;
        for (const SecBuffer& b : buffers) {
          if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) plain_.assign(static_cast<char*>(b.pvBuffer), b.cbBuffer);
          if (b.BufferType == SECBUFFER_EXTRA) extra = std::min<size_t>(b.cbBuffer, in_.size());
        }
        in_.erase(0, in_.size() - extra);
        if (status == SEC_I_CONTEXT_EXPIRED || (alert && plain_.empty())) closed_ = true;
        if (status == SEC_I_RENEGOTIATE) {
          // TLS 1.3's messages after the handshake (session tickets, key updates) go back to the handshake.
          if (int32_t err = Negotiate(deadline)) {
            broken_ = true;
            brokenError_ = err;
          }
        }
        continue;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) {
        broken_ = true;
        brokenError_ = kTlsChannelError;
        continue;
      }
    }
    const size_t had = in_.size();
    in_.resize(had + kReadChunk);
    size_t received = 0;
    const int32_t err = transport_->Read(in_.data() + had, kReadChunk, deadline, received);
    in_.resize(had + received);
    if (err) return err;
    if (received == 0) {
      // The peer closed without close_notify: the end of the stream, unless a record was cut short.
      if (!in_.empty()) return ERROR_INTERNET_CONNECTION_ABORTED;
      closed_ = true;
    }
  }
}

int32_t TlsStream::Write(const char* data, size_t size, Deadline deadline) {
  if (broken_) return brokenError_;
  while (size > 0) {
    const size_t chunk = std::min<size_t>(size, sizes_.cbMaximumMessage);
    out_.resize(sizes_.cbHeader + chunk + sizes_.cbTrailer);
    std::memcpy(out_.data() + sizes_.cbHeader, data, chunk);
    SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, out_.data()},
                            {static_cast<unsigned long>(chunk), SECBUFFER_DATA, out_.data() + sizes_.cbHeader},
                            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, out_.data() + sizes_.cbHeader + chunk},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (::EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return kTlsChannelError;
    const size_t record = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    if (int32_t err = transport_->Write(out_.data(), record, deadline)) return err;
    data += chunk;
    size -= chunk;
  }
  return 0;
}

int32_t TlsStream::SendCloseNotify(Deadline deadline) {
  if (!haveContext_) return 0;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
  if (::ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return 0;
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
  DWORD attributes = 0;
  ::InitializeSecurityContextW(credentials_.get(), &context_, target_.data(), kRequest, 0, 0, nullptr, 0, nullptr,
                               &outDesc, &attributes, nullptr);
  return SendToken(out[0], deadline);
}

int32_t TlsStream::Shutdown(Deadline deadline) {
  if (int32_t err = SendCloseNotify(deadline)) return err;
  if (int32_t err = transport_->Shutdown(deadline)) return err;
  // Then what the server still sends (a TLS 1.3 session ticket, its close_notify) until it closes: a socket
  // closed with unread bytes resets the connection, and vsftpd counts the upload as broken (426). A server that
  // keeps its end open is waited for a second at most.
  char buffer[4096];
  for (size_t got = 1; got > 0;) {
    if (Read(buffer, sizeof buffer, deadline, got)) break;
  }
  const Deadline end = std::min(deadline, Clock::now() + std::chrono::seconds(1));
  for (size_t got = 1; got > 0;) {
    if (transport_->Read(buffer, sizeof buffer, end, got)) break;
  }
  return 0;
}

bool TlsStream::Readable() {
  if (plainAt_ < plain_.size() || !in_.empty() || closed_) return true;
  auto* socket = dynamic_cast<Pollable*>(transport_.get());
  return socket && socket->Readable();
}

}  // namespace kadroo::windows::net
