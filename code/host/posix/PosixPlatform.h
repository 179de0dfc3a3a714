#pragma once
// The Linux platform behind the control, as WindowsPlatform is the Windows one: owns its parts and hands them to
// a control.
#include <memory>

#include "control/Platform.h"
#include "host/posix/PosixLocalFiles.h"

namespace kadroo::posix {

class PosixFtpClient;

class PosixPlatform {
 public:
  PosixPlatform();
  ~PosixPlatform();
  Platform& platform() { return platform_; }
  PosixFtpClient& ftp();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  Platform platform_;
};

}  // namespace kadroo::posix
