#pragma once
// How a host's FTP client tells how a download or an upload advances.
#include <cstdint>

namespace kadroo {

// Told after each piece a transfer moves, and once more when it ends; `total` is -1 when the size is not known.
// The observer decides how often to pass it on.
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  virtual void OnTransfer(uint64_t done, int64_t total, bool finished) = 0;
};

}  // namespace kadroo
