#pragma once
// The FTP client of the Linux build: the FTP engine over BSD sockets and the system's files.
#include "host/ftp/FtpEngine.h"
#include "host/posix/ftp/PosixFiles.h"
#include "host/posix/ftp/Socket.h"

namespace kadroo::posix {

using ftp::FtpTimeouts;

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
  PosixFtpClient(LastError& lastError, CodePage& codePage, FtpTimeouts timeouts = {});
};

}  // namespace kadroo::posix
