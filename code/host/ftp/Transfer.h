#pragma once
// The bytes of a transfer between a data connection and a local file, through a fixed buffer (or the host's fast
// path where its stream offers one).
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "ftp/TransferObserver.h"
#include "host/ftp/Stream.h"

namespace kadroo::ftp {

constexpr size_t kReceiveBuffer = 256 << 10;
// Uploads: small enough to stay in the core's cache between read and send, large enough that the calls cost little
// (16 KiB took about three quarters more CPU per GiB).
constexpr size_t kSendBuffer = 64 << 10;

// How a stream between a connection and a file ended.
struct Flow {
  enum class Failed { None, Network, Local };
  uint64_t bytes = 0;
  Failed failed = Failed::None;
  int32_t code = 0;  // the platform code of the failure
  TransferObserver* observer = nullptr;
  int64_t total = -1;
  void Fail(Failed where, int32_t error) {
    failed = where;
    code = error;
  }
  void Moved(size_t n) {
    bytes += n;
    if (observer) observer->OnTransfer(bytes, total, false);
  }
  void Ended() {
    if (observer) observer->OnTransfer(bytes, total, true);
  }
};

// Until the server ends the data connection; `idle` is the longest wait for bytes.
void ReceiveToFile(Stream& data, LocalFile& file, std::chrono::milliseconds idle, Flow& flow);
// The whole file, then the end of the stream (Stream::Shutdown).
void SendFile(LocalFile& file, Stream& data, std::chrono::milliseconds idle, Flow& flow);

}  // namespace kadroo::ftp
