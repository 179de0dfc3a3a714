#include "host/windows/platform/WindowsFiles.h"

#include "host/windows/platform/Win32.h"

#include <algorithm>

namespace kadroo::windows {
namespace {

class Win32File final : public ftp::LocalFile {
 public:
  explicit Win32File(unique_file file) : file_(std::move(file)) {}
  int32_t Read(char* data, size_t size, size_t& got) override {
    DWORD n = 0;
    if (!::ReadFile(file_.get(), data, static_cast<DWORD>(std::min<size_t>(size, 1 << 30)), &n, nullptr)) {
      return LastWin32Error();
    }
    got = n;
    return 0;
  }
  int32_t Write(const char* data, size_t size) override {
    while (size > 0) {
      DWORD n = 0;
      if (!::WriteFile(file_.get(), data, static_cast<DWORD>(std::min<size_t>(size, 1 << 30)), &n, nullptr)) {
        return LastWin32Error();
      }
      data += n;
      size -= n;
    }
    return 0;
  }
  int32_t Close() override {
    if (file_ && !::CloseHandle(file_.release())) return LastWin32Error();
    return 0;
  }

 private:
  unique_file file_;
};

}  // namespace

std::optional<std::string> WindowsFiles::LocalPath(TextView path, int32_t& error) {
  std::string ansi;
  error = ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, ansi);
  if (error) return std::nullopt;
  return ansi;
}

int32_t WindowsFiles::OpenRead(const std::string& path, std::unique_ptr<ftp::LocalFile>& out, uint64_t& size) {
  unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return LastWin32Error();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) return LastWin32Error();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  out = std::make_unique<Win32File>(std::move(file));
  return 0;
}

int32_t WindowsFiles::OpenWrite(const std::string& path, std::unique_ptr<ftp::LocalFile>& out) {
  unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
  if (!file) return LastWin32Error();
  out = std::make_unique<Win32File>(std::move(file));
  return 0;
}

ftp::FileSystem::Target WindowsFiles::Inspect(const std::string& path) {
  Target target;
  if (path.rfind("\\\\.\\", 0) == 0) {
    target.exists = true;
    return target;
  }
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  target.exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!target.exists) return target;
  target.plainFile = !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  target.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  target.writeThrough = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  target.destination = path;
  return target;
}

std::string WindowsFiles::DirectoryOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator + 1);
}

std::string WindowsFiles::TemporaryDirectory() {
  char temp[MAX_PATH + 1];
  const DWORD length = ::GetTempPathA(sizeof temp, temp);
  return length == 0 || length > sizeof temp ? std::string() : std::string(temp, length);
}

int32_t WindowsFiles::CreatePartial(const std::string& directory, std::string& path) {
  char name[MAX_PATH];
  if (directory.empty() || ::GetTempFileNameA(directory.c_str(), "kdp", 0, name) == 0) return LastWin32Error();
  path = name;
  return 0;
}

uint64_t WindowsFiles::SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

int32_t WindowsFiles::MoveOnto(const std::string& partial, const std::string& target) {
  const DWORD existing = ::GetFileAttributesA(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES) {
    const DWORD kept = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (kept) ::SetFileAttributesA(partial.c_str(), kept);
  }
  if (!::MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return LastWin32Error();
  return 0;
}

int32_t WindowsFiles::CopyInto(const std::string& partial, const std::string& target) {
  std::unique_ptr<ftp::LocalFile> in;
  uint64_t size = 0;
  if (int32_t err = OpenRead(partial, in, size)) return err;
  unique_file file(::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
  if (!file) return LastWin32Error();
  Win32File out(std::move(file));
  std::string buffer(1 << 20, '\0');
  for (;;) {
    size_t got = 0;
    if (int32_t err = in->Read(buffer.data(), buffer.size(), got)) return err;
    if (got == 0) break;
    if (int32_t err = out.Write(buffer.data(), got)) return err;
  }
  return out.Close();
}

void WindowsFiles::Remove(const std::string& path) { ::DeleteFileA(path.c_str()); }

}  // namespace kadroo::windows
