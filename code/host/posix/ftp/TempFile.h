#pragma once
// The temporary file a download is written to before it replaces its target.
#include <cstdint>
#include <string>

#include "host/posix/Fd.h"

namespace kadroo::posix {

// A file created in `dir` (ending in '/', or empty for the working directory), removed on destruction unless
// committed.
class TempFile {
 public:
  // `error` gets the errno when the file could not be created.
  TempFile(const std::string& dir, int& error);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_.get(); }
  // Closes the file and renames it over `target`, with the target's permissions; the platform code on failure.
  int32_t RenameOver(const std::string& target);
  // Writes the content into `target` itself, for a target whose directory we may not write.
  int32_t CopyInto(const std::string& target);

 private:
  std::string path_;
  Fd fd_;
};

}  // namespace kadroo::posix
