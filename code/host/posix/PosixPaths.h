#pragma once
// Paths as the policy compares them on Linux: a backslash made a slash, every link and "." or ".." resolved.
#include "control/Platform.h"
#include "policy/BridgePolicy.h"

namespace kadroo::posix {

class PosixPaths final : public PathResolver {
 public:
  explicit PosixPaths(CodePage& codePage) : codePage_(codePage) {}
  std::optional<std::string> ResolvePath(TextView path) override;
  std::optional<std::string> ResolveFolderOf(TextView path) override;
  bool HasOtherNames(TextView path) override;

 private:
  CodePage& codePage_;
};

}  // namespace kadroo::posix
