#pragma once
// The local files of the FTP engine on Linux: descriptors, and the partial file of a download.
#include <memory>
#include <string>

#include "host/ftp/Stream.h"

namespace kadroo::posix {

class PosixFiles : public ftp::FileSystem {
 public:
  // `codePage` must outlive this.
  explicit PosixFiles(CodePage& codePage) : codePage_(codePage) {}
  std::optional<std::string> LocalPath(TextView path, int32_t& error) override;
  int32_t OpenRead(const std::string& path, std::unique_ptr<ftp::LocalFile>& out, uint64_t& size) override;
  int32_t OpenWrite(const std::string& path, std::unique_ptr<ftp::LocalFile>& out) override;
  // Links are resolved: the partial file goes beside the file a link names and is renamed over it.
  Target Inspect(const std::string& path) override;
  std::string DirectoryOf(const std::string& path) override;
  std::string TemporaryDirectory() override;
  int32_t CreatePartial(const std::string& directory, std::string& path) override;
  uint64_t SizeOf(const std::string& path) override;
  int32_t MoveOnto(const std::string& partial, const std::string& target) override;
  int32_t CopyInto(const std::string& partial, const std::string& target) override;
  void Remove(const std::string& path) override;

 private:
  CodePage& codePage_;
};

// The descriptor of a file PosixFiles opened, -1 for another.
int DescriptorOf(const ftp::LocalFile& file);

}  // namespace kadroo::posix
