#include "host/posix/PosixPaths.h"

#include "host/posix/AdminFiles.h"
#include "host/posix/LocalPath.h"

namespace kadroo::posix {

std::optional<std::string> PosixPaths::ResolvePath(TextView path) {
  const auto local = ToLocalPath(codePage_, path);
  return local ? posix::ResolvePath(*local) : std::nullopt;
}

std::optional<std::string> PosixPaths::ResolveFolderOf(TextView path) {
  const auto local = ToLocalPath(codePage_, path);
  return local ? posix::ResolveFolderOf(*local) : std::nullopt;
}

}  // namespace kadroo::posix
