#pragma once
// The bytes of a transfer between the data connection and a local file: through the kernel where it can
// (splice), through a fixed buffer otherwise.
#include <cstddef>
#include <cstdint>

#include "ftp/TransferObserver.h"

namespace kadroo::posix {

constexpr size_t kCopyBuffer = 256 << 10;  // downloads where splice is not offered
// Uploads: small enough to stay in the core's cache between read and send, large enough that the calls cost little
// (16 KiB took about three quarters more CPU per GiB).
constexpr size_t kSendBuffer = 64 << 10;

using kadroo::TransferObserver;

// How a stream between a socket and a file ended.
struct Flow {
  enum class Failed { None, Network, Local };
  uint64_t bytes = 0;
  Failed failed = Failed::None;
  int err = 0;
  TransferObserver* observer = nullptr;
  int64_t total = -1;
  void Fail(Failed where, int e) {
    failed = where;
    err = e;
  }
  void Moved(size_t n) {
    bytes += n;
    if (observer) observer->OnTransfer(bytes, total, false);
  }
  void Ended() {
    if (observer) observer->OnTransfer(bytes, total, true);
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
