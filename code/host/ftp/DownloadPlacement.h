#pragma once
// Where a download goes before and after it arrives, the same for every FTP client of every host.
//
// A target that is not a plain file, or is read-only, is refused (5) before anything is fetched, as is an existing
// one when the caller asked so (80). The download is received into a partial file beside the target, so that it
// takes the target's place in one rename once complete; where the target's directory is closed to us but the
// target itself is writable, the partial file goes to the temporary directory and is copied into the target. A
// link is written through. An empty download never replaces an existing file (38). A failure removes the partial
// file and leaves the target as it was.
#include <cstdint>
#include <string>

#include "host/ftp/Stream.h"

namespace kadroo::ftp {

class DownloadPlacement {
 public:
  explicit DownloadPlacement(FileSystem& files) : files_(files) {}
  ~DownloadPlacement();
  DownloadPlacement(const DownloadPlacement&) = delete;
  DownloadPlacement& operator=(const DownloadPlacement&) = delete;

  // Checks the target and creates the partial file; 0 or the code the download fails with.
  int32_t Prepare(const std::string& target, bool failIfExists);
  // The file to receive into.
  const std::string& partial() const { return partial_; }
  // Once the server confirmed the transfer: puts the `received` bytes of the partial file in the target's place.
  int32_t Place(uint64_t received);

 private:
  FileSystem& files_;
  FileSystem::Target target_;
  std::string partial_;
  bool beside_ = false;
};

}  // namespace kadroo::ftp
