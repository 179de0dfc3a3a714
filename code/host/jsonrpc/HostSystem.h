#pragma once
// What kadrooa needs from the system it runs on, beyond the control's own platform: implemented once for Linux
// (code/host/posix/PosixHostSystem.cpp) and once for Windows (code/host/windows/kadrooa/WindowsHostSystem.cpp).
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "control/Platform.h"
#include "ftp/TransferObserver.h"
#include "policy/PolicyDocument.h"

namespace kadroo::jsonrpc {

class HostSystem {
 public:
  virtual ~HostSystem() = default;

  // The control's platform, and how the policy compares the paths a page names.
  virtual Platform& platform() = 0;
  virtual PathResolver& paths() = 0;
  // The administrator's policy, where the system keeps it.
  virtual PolicyLoad LoadPolicy() = 0;
  // What is installed for the browsers, for kadrooa --diagnose: {"versions": {part: version or null}, "browsers":
  // [{"browser", "manifest", "found", "host", "hostFound", "allows": [...], "extensionPolicy": {"where",
  // "entry"}}], "problems": [text]}.
  virtual nlohmann::json DescribeInstallation() = 0;
  // Tells `observer` how the platform's transfers advance, where it can tell.
  virtual void ObserveTransfers(TransferObserver* observer) = 0;

  // A browser's streams: standard output is set aside for the frames alone, and whatever else would write to it
  // (a library, a program the control starts) goes to standard error instead. False when that cannot be done.
  virtual bool TakeBrowserStreams() = 0;
  // Up to `size` bytes of the input; 0 at its end.
  virtual size_t ReadInput(char* buffer, size_t size) = 0;
  // All of `bytes` to the browser; false when it is gone.
  virtual bool WriteOutput(std::string_view bytes) = 0;
  // Calls `ended`, on a thread of its own, once the input has ended (the browser closed it), without reading it.
  virtual void WatchInputEnd(std::function<void()> ended) = 0;
};

// The system kadrooa runs on.
std::unique_ptr<HostSystem> MakeHostSystem();

}  // namespace kadroo::jsonrpc
