#include "host/posix/ftp/PosixFtpClient.h"

#include <signal.h>

namespace kadroo::posix {

PosixFtpClient::PosixFtpClient(LastError& lastError, CodePage& codePage, FtpTimeouts timeouts)
    : PosixFtpParts(codePage), FtpEngine(lastError, codePage, network, files, timeouts) {
  // A file-size limit must end a download with an error the control can report, not end the process.
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace kadroo::posix
