#include "host/windows/platform/FindData.h"

#include <cstring>

namespace kadroo::windows {
namespace {

FileTime ToFileTime(const FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

}  // namespace

FindData ToFindData(const WIN32_FIND_DATAA& found) {
  FindData record;
  record.dwFileAttributes = found.dwFileAttributes;
  record.ftCreationTime = ToFileTime(found.ftCreationTime);
  record.ftLastAccessTime = ToFileTime(found.ftLastAccessTime);
  record.ftLastWriteTime = ToFileTime(found.ftLastWriteTime);
  record.nFileSizeHigh = found.nFileSizeHigh;
  record.nFileSizeLow = found.nFileSizeLow;
  record.dwReserved0 = found.dwReserved0;
  record.dwReserved1 = found.dwReserved1;
  static_assert(sizeof record.cFileName == sizeof found.cFileName);
  static_assert(sizeof record.cAlternateFileName == sizeof found.cAlternateFileName);
  std::memcpy(record.cFileName, found.cFileName, sizeof record.cFileName);
  std::memcpy(record.cAlternateFileName, found.cAlternateFileName, sizeof record.cAlternateFileName);
  return record;
}

}  // namespace kadroo::windows
