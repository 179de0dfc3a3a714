#include "host/posix/LocalPath.h"

#include <cerrno>
#include <cstdlib>

namespace kadroo::posix {

std::optional<std::string> ToLocalPath(CodePage& codePage, TextView path, int32_t* error) {
  std::string bytes;
  if (int32_t refused = ToAnsiArgument(codePage, path, LineBreaks::kAllowed, bytes)) {
    if (error) *error = refused;
    return std::nullopt;
  }
  for (char& c : bytes) {
    if (c == '\\') c = '/';
  }
  return bytes;
}

std::string TemporaryDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

int32_t ErrorFromErrno(int errnum) {
  switch (errnum) {
    case 0: return 0;
    case ENOENT: return 2;          // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;         // ERROR_PATH_NOT_FOUND
    case EMFILE: case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES: case EPERM: case EISDIR: case EROFS: return 5;  // ERROR_ACCESS_DENIED
    case ENOMEM: return 8;          // ERROR_NOT_ENOUGH_MEMORY
    case EBUSY: case ETXTBSY: return 32;  // ERROR_SHARING_VIOLATION
    case ENOSPC: return 112;        // ERROR_DISK_FULL
    case EDQUOT: return 1295;       // ERROR_DISK_QUOTA_EXCEEDED
    case EFBIG: return 223;         // ERROR_FILE_TOO_LARGE
    case EEXIST: return 80;         // ERROR_FILE_EXISTS
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EINVAL: return 87;         // ERROR_INVALID_PARAMETER
    default: return 31;             // ERROR_GEN_FAILURE
  }
}

}  // namespace kadroo::posix
