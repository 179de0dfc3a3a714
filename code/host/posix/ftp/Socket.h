#pragma once
// The FTP engine's streams over BSD sockets: connecting and waiting within a deadline, the socket options set,
// the WinINet code a socket error stands for, and plain downloads spliced from the socket into the file.
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "host/ftp/Stream.h"
#include "host/posix/Fd.h"

namespace kadroo::posix {

using ftp::Clock;
using ftp::Deadline;

// Polls until one of the descriptors is ready; the number ready, 0 on timeout.
int PollUntil(pollfd* fds, nfds_t count, Deadline deadline);
// Waits until `fd` is ready for `events`: 0, or 12002 when the deadline passed.
int32_t WaitFor(int fd, short events, Deadline deadline);

int32_t ErrorFromSocket(int err);

// A connected socket.
class SocketStream : public ftp::Stream {
 public:
  SocketStream(Fd socket, bool quickAck);
  int32_t Read(char* data, size_t size, Deadline deadline, size_t& got) override;
  int32_t Write(const char* data, size_t size, Deadline deadline) override;
  int32_t Shutdown(Deadline deadline) override;
  ftp::Endpoint Peer() const override { return peer_; }
  ftp::Endpoint Local() const override { return local_; }
  bool ReceiveInto(ftp::LocalFile& file, std::chrono::milliseconds idle, ftp::Flow& flow) override;
  int fd() const { return socket_.get(); }

 private:
  Fd socket_;
  bool quickAck_;
  ftp::Endpoint peer_, local_;
};

class PosixNetwork : public ftp::Network {
 public:
  int32_t Connect(const std::string& host, uint16_t port, Deadline deadline, Role role,
                  std::unique_ptr<ftp::Stream>& out) override;
  int32_t Listen(const ftp::Endpoint& local, std::unique_ptr<ftp::Listener>& out) override;
};

// The descriptor a stream of this host waits on (a TLS stream's socket for one), -1 for another.
int DescriptorOf(const ftp::Stream& stream);

}  // namespace kadroo::posix
