#pragma once
// The FTP engine's network on Windows: TCP over Winsock, TLS over Schannel with one credential handle per FTP
// session, so that Schannel can resume the control connection's session on the data connections.
#include "host/ftp/Stream.h"

namespace kadroo::windows::net {

class WindowsNetwork final : public ftp::Network {
 public:
  int32_t Connect(const std::string& host, uint16_t port, ftp::Deadline deadline, Role role,
                  std::unique_ptr<ftp::Stream>& out) override;
  int32_t Listen(const ftp::Endpoint& local, std::unique_ptr<ftp::Listener>& out) override;
  int32_t StartTls(const ftp::TlsDemand& demand, std::unique_ptr<ftp::TlsSession>& out) override;
};

}  // namespace kadroo::windows::net
