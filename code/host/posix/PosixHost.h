#pragma once
// Owns the Linux platform objects and hands them to a control.
#include <memory>

#include "control/Platform.h"
#include "host/posix/PosixPlatform.h"

namespace kadroo::posix {

class PosixFtpClient;

class PosixHost {
 public:
  PosixHost();
  ~PosixHost();
  Platform& platform() { return platform_; }
  PosixFtpClient& ftp();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  Platform platform_;
};

}  // namespace kadroo::posix
