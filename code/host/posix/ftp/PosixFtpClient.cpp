#include "host/posix/ftp/PosixFtpClient.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "host/posix/AdminFiles.h"

namespace kadroo::posix {

FtpTlsSettings LoadFtpTlsSettings() {
  const char* variable = std::getenv("KADROOA_FTP_TLS_FILE");
  const std::string path = variable && *variable ? variable : "/etc/kadrooa/ftp-tls.json";
  std::string problem;
  const auto text = ReadRootOwnedFile(path, problem);
  FtpTlsSettings settings;
  if (text) {
    settings = ParseFtpTlsSettings(*text, problem);
  } else if (!problem.empty()) {
    settings.everyServer = true;
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "kadrooa: %s not used: %s; every FTP server must offer TLS until it is mended\n",
                 path.c_str(), problem.c_str());
  }
  return settings;
}

PosixFtpClient::PosixFtpClient(LastError& lastError, CodePage& codePage, FtpTimeouts timeouts,
                               FtpTlsSettings tls)
    : PosixFtpParts(codePage), FtpEngine(lastError, codePage, network, files, timeouts, std::move(tls)) {
  // A file-size limit must end a download with an error the control can report, not end the process.
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace kadroo::posix
