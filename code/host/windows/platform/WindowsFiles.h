#pragma once
// Local files on Windows for the FTP clients, by their ANSI names as WinINet takes them: the file an upload reads,
// the partial file a download is received into and the rename or copy that puts it in place (DownloadPlacement).
#include <memory>
#include <string>

#include "host/ftp/Stream.h"

namespace kadroo::windows {

class WindowsFiles final : public ftp::FileSystem {
 public:
  // `codePage` must outlive this.
  explicit WindowsFiles(CodePage& codePage) : codePage_(codePage) {}
  std::optional<std::string> LocalPath(TextView path, int32_t& error) override;
  int32_t OpenRead(const std::string& path, std::unique_ptr<ftp::LocalFile>& out, uint64_t& size) override;
  int32_t OpenWrite(const std::string& path, std::unique_ptr<ftp::LocalFile>& out) override;
  // A device ("\\.\") is no plain file; a link (a reparse point) is written through.
  Target Inspect(const std::string& path) override;
  std::string DirectoryOf(const std::string& path) override;
  std::string TemporaryDirectory() override;
  int32_t CreatePartial(const std::string& directory, std::string& path) override;
  uint64_t SizeOf(const std::string& path) override;
  // Keeps the replaced file's hidden, system and archive marks.
  int32_t MoveOnto(const std::string& partial, const std::string& target) override;
  int32_t CopyInto(const std::string& partial, const std::string& target) override;
  void Remove(const std::string& path) override;

 private:
  CodePage& codePage_;
};

}  // namespace kadroo::windows
