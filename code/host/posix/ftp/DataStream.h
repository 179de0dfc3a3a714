#pragma once
// The bytes of a transfer between the data connection and a local file: through the kernel where it can
// (splice), through a fixed buffer otherwise.
#include <cstddef>
#include <cstdint>

namespace kadroo::posix {

constexpr size_t kCopyBuffer = 256 << 10;  // uploads, and downloads where splice is not offered

// How a stream between a socket and a file ended.
struct Flow {
  enum class Failed { None, Network, Local };
  uint64_t bytes = 0;
  Failed failed = Failed::None;
  int err = 0;
  void Fail(Failed where, int e) {
    failed = where;
    err = e;
  }
};

// Writes all of `data`; false (and `flow` failed locally) when the file would not take it.
bool WriteAll(int fd, const char* data, size_t size, Flow& flow);
// Until the server closes the data connection.
void ReceiveToFile(int socket, int file, Flow& flow);
void CopyFileToSocket(int file, int socket, Flow& flow);
// The platform code for a failed flow.
int32_t FlowError(const Flow& flow);

}  // namespace kadroo::posix
