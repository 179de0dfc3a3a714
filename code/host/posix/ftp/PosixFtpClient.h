#pragma once
// The FTP client of the Linux build: the FTP engine over BSD sockets, OpenSSL and the system's files.
#include "host/ftp/FtpEngine.h"
#include "host/posix/ftp/PosixFiles.h"
#include "host/posix/ftp/Socket.h"

namespace kadroo::posix {

using ftp::FtpTimeouts;

// The administrator's FTP over TLS settings (policy/FtpTlsSettings.h): $KADROOA_FTP_TLS_FILE, else
// /etc/kadrooa/ftp-tls.json. A problem with them is reported on standard error.
FtpTlsSettings LoadFtpTlsSettings();

namespace detail {
// Built before the engine that uses them.
struct PosixFtpParts {
  explicit PosixFtpParts(CodePage& codePage) : files(codePage) {}
  PosixNetwork network;
  PosixFiles files;
};
}  // namespace detail

class PosixFtpClient final : private detail::PosixFtpParts, public ftp::FtpEngine {
 public:
  // `lastError` and `codePage` must outlive the client.
  PosixFtpClient(LastError& lastError, CodePage& codePage, FtpTimeouts timeouts = {},
                 FtpTlsSettings tls = LoadFtpTlsSettings());
};

}  // namespace kadroo::posix
