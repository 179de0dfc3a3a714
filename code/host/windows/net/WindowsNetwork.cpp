#include "host/windows/net/WindowsNetwork.h"

#include "host/windows/net/TlsStream.h"
#include "host/windows/net/WinsockStream.h"

namespace kadroo::windows::net {
namespace {

class SchannelSession final : public ftp::TlsSession {
 public:
  explicit SchannelSession(const ftp::TlsDemand& demand)
      : host_(demand.host), pin_(demand.pin ? std::string(demand.pin->begin(), demand.pin->end()) : std::string()) {}

  int32_t Acquire() { return credentials_.Acquire(); }
  int32_t SecureControl(std::unique_ptr<ftp::Stream>& stream, ftp::Deadline deadline) override {
    return Secure(stream, deadline);
  }
  // Schannel resumes by itself under the same credentials and target name; under Wine it never does.
  int32_t SecureData(std::unique_ptr<ftp::Stream>& stream, ftp::Deadline deadline) override {
    return Secure(stream, deadline);
  }

 private:
  int32_t Secure(std::unique_ptr<ftp::Stream>& stream, ftp::Deadline deadline) {
    auto tls = std::make_unique<TlsStream>(credentials_, std::move(stream), host_, pin_);
    const int32_t err = tls->Handshake(deadline);
    stream = std::move(tls);
    return err;
  }

  TlsCredentials credentials_;
  std::string host_;
  std::string pin_;
};

}  // namespace

int32_t WindowsNetwork::Connect(const std::string& host, uint16_t port, ftp::Deadline deadline, Role,
                                std::unique_ptr<ftp::Stream>& out) {
  std::unique_ptr<WinsockStream> stream;
  if (int32_t err = WinsockStream::Connect(host, port, deadline, stream)) return err;
  out = std::move(stream);
  return 0;
}

int32_t WindowsNetwork::Listen(const ftp::Endpoint& local, std::unique_ptr<ftp::Listener>& out) {
  auto listener = std::make_unique<WinsockListener>();
  if (int32_t err = listener->Open(local)) return err;
  out = std::move(listener);
  return 0;
}

int32_t WindowsNetwork::StartTls(const ftp::TlsDemand& demand, std::unique_ptr<ftp::TlsSession>& out) {
  auto session = std::make_unique<SchannelSession>(demand);
  if (int32_t err = session->Acquire()) return err;
  out = std::move(session);
  return 0;
}

}  // namespace kadroo::windows::net
