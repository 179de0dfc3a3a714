#pragma once
// Owns the Linux platform objects and hands them to a control.
#include <memory>

#include "control/Platform.h"
#include "host/posix/PosixPlatform.h"

namespace kadroo::posix {

class PosixHost {
 public:
  PosixHost();
  ~PosixHost();
  Platform& platform() { return platform_; }

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  Platform platform_;
};

}  // namespace kadroo::posix
