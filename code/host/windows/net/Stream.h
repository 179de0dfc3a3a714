#pragma once
// A byte stream with deadlines, as the FTP engine reads and writes its control and data connections: a Winsock
// socket, or TLS over one. Every call answers 0 or the WinINet code of what failed.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kadroo::windows::net {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

class Stream {
 public:
  virtual ~Stream() = default;
  // What has arrived, up to `size` bytes, waiting until `deadline` for the first; `got` 0 at the end of the stream.
  virtual int32_t Read(char* data, size_t size, size_t& got, Deadline deadline) = 0;
  // All of `data`, or the error.
  virtual int32_t Write(const char* data, size_t size, Deadline deadline) = 0;
  // Ends the sending direction; the peer reads the end of the stream (after TLS's close_notify).
  virtual int32_t Shutdown(Deadline deadline) = 0;
  // Whether a Read would not wait: bytes are buffered here or the socket has some.
  virtual bool Readable() = 0;
};

}  // namespace kadroo::windows::net
