#pragma once
// TLS over another stream through Schannel (SSPI): the client handshake with the server's host name, the check of
// the server's certificate, records encrypted and decrypted with what arrived beyond a record kept for the next,
// TLS 1.3's messages after the handshake, and close_notify before the stream is shut down.
//
// The certificate is checked by the system's chain engine and its SSL policy against the host name, as Schannel
// checks it by itself, or, where the administrator pinned one, by its SHA-256 fingerprint alone. Failures are
// WinINet's numbers (see the constants below).
#include "ftp/FtpClient.h"

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
// SCH_CREDENTIALS, the credentials that can offer TLS 1.3, is declared only with these.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>

#include <memory>
#include <string>

#include "host/windows/net/WinsockStream.h"

namespace kadroo::windows::net {

// WinINet's numbers for what fails in TLS. wininet.h defines these as macros, hence names of our own.
constexpr int32_t kTlsCertDateInvalid = 12037;     // ERROR_INTERNET_SEC_CERT_DATE_INVALID
constexpr int32_t kTlsCertNameInvalid = 12038;     // ERROR_INTERNET_SEC_CERT_CN_INVALID
constexpr int32_t kTlsClientCertNeeded = 12044;    // ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
constexpr int32_t kTlsInvalidCa = 12045;           // ERROR_INTERNET_INVALID_CA
constexpr int32_t kTlsChannelError = 12157;        // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
// ERROR_INTERNET_SEC_INVALID_CERT: not the pinned certificate, or another fault of the certificate
constexpr int32_t kTlsInvalidCert = 12169;

// The credentials of one FTP session. Schannel resumes a TLS session only under the same credential handle and
// target name, so the control connection and every data connection of a session share one.
class TlsCredentials {
 public:
  TlsCredentials() = default;
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;
  ~TlsCredentials();

  // 0 or 12157.
  int32_t Acquire();
  CredHandle* get() { return &handle_; }

 private:
  CredHandle handle_{};
  bool valid_ = false;
};

class TlsStream final : public ftp::Stream, public Pollable {
 public:
  // `credentials` must outlive the stream. `pinSha256` is empty or the 32 bytes of the pinned certificate's
  // SHA-256 fingerprint.
  TlsStream(TlsCredentials& credentials, std::unique_ptr<ftp::Stream> transport, const std::string& host,
            std::string pinSha256);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The handshake and the check of the server's certificate; 0 or the code.
  int32_t Handshake(Deadline deadline);
  // Whether the handshake resumed an earlier session of the same credentials.
  bool Resumed() const { return resumed_; }

  int32_t Read(char* data, size_t size, Deadline deadline, size_t& got) override;
  int32_t Write(const char* data, size_t size, Deadline deadline) override;
  // close_notify, then the transport's own shutdown, then what the server still sends until it closes.
  int32_t Shutdown(Deadline deadline) override;
  Endpoint Peer() const override { return transport_->Peer(); }
  Endpoint Local() const override { return transport_->Local(); }
  bool Readable() override;

 private:
  // Runs InitializeSecurityContext until it completes, on what is in `in_` first; for the handshake and for
  // the messages that follow one (SEC_I_RENEGOTIATE).
  int32_t Negotiate(Deadline deadline);
  // Receives more into `in_`; 12157 when the peer closes.
  int32_t Fill(Deadline deadline);
  int32_t SendToken(SecBuffer& token, Deadline deadline);
  int32_t SendCloseNotify(Deadline deadline);
  int32_t CheckCertificate();

  TlsCredentials& credentials_;
  std::unique_ptr<ftp::Stream> transport_;
  std::wstring target_;
  std::string pin_;
  CtxtHandle context_{};
  bool haveContext_ = false;
  bool clientCertAsked_ = false;
  bool resumed_ = false;
  bool closed_ = false;   // close_notify received: the end of the stream
  bool broken_ = false;   // a failure that leaves the stream unusable
  int32_t brokenError_ = 0;
  SecPkgContext_StreamSizes sizes_{};
  std::string in_;        // received and not yet decrypted
  std::string plain_;     // decrypted and not yet read
  size_t plainAt_ = 0;
  std::string out_;       // one record being sent
};

}  // namespace kadroo::windows::net
