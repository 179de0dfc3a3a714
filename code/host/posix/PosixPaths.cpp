#include "host/posix/PosixPaths.h"

#include <sys/stat.h>

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

bool PosixPaths::HasOtherNames(TextView path) {
  const auto local = ToLocalPath(codePage_, path);
  struct stat st;
  return local && ::stat(local->c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && st.st_nlink > 1;
}

}  // namespace kadroo::posix
