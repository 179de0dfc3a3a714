#include "host/ftp/Transfer.h"

#include <memory>

namespace kadroo::ftp {

void ReceiveToFile(Stream& data, LocalFile& file, std::chrono::milliseconds idle, Flow& flow) {
  if (data.ReceiveInto(file, idle, flow)) return;
  auto buffer = std::make_unique<char[]>(kReceiveBuffer);
  for (;;) {
    size_t got = 0;
    if (int32_t err = data.Read(buffer.get(), kReceiveBuffer, Clock::now() + idle, got)) {
      return flow.Fail(Flow::Failed::Network, err);
    }
    if (got == 0) return;
    if (int32_t err = file.Write(buffer.get(), got)) return flow.Fail(Flow::Failed::Local, err);
    flow.Moved(got);
  }
}

void SendFile(LocalFile& file, Stream& data, std::chrono::milliseconds idle, Flow& flow) {
  auto buffer = std::make_unique<char[]>(kSendBuffer);
  for (;;) {
    size_t got = 0;
    if (int32_t err = file.Read(buffer.get(), kSendBuffer, got)) return flow.Fail(Flow::Failed::Local, err);
    if (got == 0) break;
    if (int32_t err = data.Write(buffer.get(), got, Clock::now() + idle)) {
      return flow.Fail(Flow::Failed::Network, err);
    }
    flow.Moved(got);
  }
  if (int32_t err = data.Shutdown(Clock::now() + idle)) flow.Fail(Flow::Failed::Network, err);
}

}  // namespace kadroo::ftp
