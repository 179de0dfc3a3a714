#include "host/windows/platform/WinInetFtpClient.h"

#include <memory>
#include <vector>

#include "host/ftp/DownloadPlacement.h"
#include "host/windows/platform/AnsiCodePage.h"
#include "host/windows/platform/FindData.h"

namespace kadroo::windows {
namespace {

// The local files a download is placed with, over kernel32's ANSI calls. WinINet writes the partial file itself.
class WindowsDownloadFiles final : public ftp::FileSystem {
 public:
  std::optional<std::string> LocalPath(TextView, int32_t& error) override {
    error = ERROR_CALL_NOT_IMPLEMENTED;
    return std::nullopt;
  }
  int32_t OpenRead(const std::string&, std::unique_ptr<ftp::LocalFile>&, uint64_t&) override {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }
  int32_t OpenWrite(const std::string&, std::unique_ptr<ftp::LocalFile>&) override {
    return ERROR_CALL_NOT_IMPLEMENTED;
  }

  Target Inspect(const std::string& path) override {
    Target target;
    target.destination = path;
    if (path.rfind("\\\\.\\", 0) == 0) {  // a device
      target.exists = true;
      return target;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    target.exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!target.exists) return target;
    target.plainFile = !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    target.readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    target.writeThrough = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    return target;
  }

  std::string DirectoryOf(const std::string& path) override {
    const size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator + 1);
  }

  std::string TemporaryDirectory() override {
    char temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    return length == 0 || length > sizeof temp ? std::string() : std::string(temp, length);
  }

  int32_t CreatePartial(const std::string& directory, std::string& path) override {
    char name[MAX_PATH];
    if (directory.empty() || ::GetTempFileNameA(directory.c_str(), "kdp", 0, name) == 0) return LastWin32Error();
    path = name;
    return 0;
  }

  uint64_t SizeOf(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  }

  // Keeps the replaced file's hidden, system and archive marks.
  int32_t MoveOnto(const std::string& partial, const std::string& target) override {
    const DWORD existing = ::GetFileAttributesA(target.c_str());
    const DWORD kept = existing == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (kept) ::SetFileAttributesA(partial.c_str(), kept);
    if (!::MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return LastWin32Error();
    return 0;
  }

  int32_t CopyInto(const std::string& partial, const std::string& target) override {
    unique_file in(::CreateFileA(partial.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return LastWin32Error();
    unique_file out(::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!out) return LastWin32Error();
    std::vector<char> buffer(1 << 20);
    DWORD got = 0;
    while (::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
      DWORD written = 0;
      if (!::WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got) {
        return LastWin32Error();
      }
    }
    if (!::SetEndOfFile(out.get())) return LastWin32Error();
    return 0;
  }

  void Remove(const std::string& path) override { ::DeleteFileA(path.c_str()); }
};

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Tells the observer how large the file a download goes into has grown, every 200 ms until it is stopped.
class DownloadWatch {
 public:
  DownloadWatch(TransferObserver* observer, std::string path) : observer_(observer), path_(std::move(path)) {
    if (!observer_) return;
    stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (stop_) thread_.reset(::CreateThread(nullptr, 0, &Watch, this, 0, nullptr));
  }
  DownloadWatch(const DownloadWatch&) = delete;
  DownloadWatch& operator=(const DownloadWatch&) = delete;
  ~DownloadWatch() { Stop(); }

  void Stop() {
    if (!thread_) return;
    ::SetEvent(stop_.get());
    ::WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
  }

 private:
  static DWORD WINAPI Watch(void* self) {
    auto* watch = static_cast<DownloadWatch*>(self);
    while (::WaitForSingleObject(watch->stop_.get(), 200) == WAIT_TIMEOUT) {
      watch->observer_->OnTransfer(FileSize(watch->path_), -1, false);
    }
    return 0;
  }

  TransferObserver* observer_;
  std::string path_;
  unique_kernel_handle stop_;
  unique_kernel_handle thread_;
};

}  // namespace

WinInetFtpClient::~WinInetFtpClient() {
  // Children before parents: every handle is numbered after its parent, barring a wrap of the numbers.
  auto& entries = handles_.entries();
  while (!entries.empty()) entries.erase(std::prev(entries.end()));
}

HINTERNET WinInetFtpClient::Lookup(Handle handle) {
  Entry* entry = handles_.Find(handle);
  if (!entry) return Refuse(lastError_, ERROR_INVALID_HANDLE, HINTERNET{nullptr});
  return entry->internet.get();
}

void WinInetFtpClient::CloseChildren(Handle parent) {
  std::vector<Handle> children;
  for (auto& [number, entry] : handles_.entries()) {
    if (entry.parent == parent) children.push_back(number);
  }
  for (Handle child : children) {
    CloseChildren(child);
    handles_.Remove(child);
  }
}

Handle WinInetFtpClient::InternetOpen(TextView agent, uint32_t accessType, TextView proxy, TextView proxyBypass,
                                      uint32_t flags) {
  std::string agentText, proxyText, bypassText;
  for (auto [text, out] : {std::pair{agent, &agentText}, {proxy, &proxyText}, {proxyBypass, &bypassText}}) {
    if (!ToAnsiArgument(lastError_, codePage_, text, LineBreaks::kRefused, *out)) return 0;
  }
  HINTERNET session = RecordedNonNull(
      lastError_, ::InternetOpenA(agentText.c_str(), accessType, proxyText.c_str(), bypassText.c_str(), flags));
  return session ? handles_.Add(Entry{unique_hinternet(session), 0}) : 0;
}

Handle WinInetFtpClient::InternetConnect(Handle session, TextView server, uint16_t port, TextView user,
                                         TextView password, uint32_t service, uint32_t flags, uintptr_t context) {
  HINTERNET parent = Lookup(session);
  if (!parent) return 0;
  std::string host, userText, passwordText;
  for (auto [text, out] : {std::pair{server, &host}, {user, &userText}, {password, &passwordText}}) {
    if (!ToAnsiArgument(lastError_, codePage_, text, LineBreaks::kRefused, *out)) return 0;
  }
  HINTERNET connection = RecordedNonNull(lastError_, ::InternetConnectA(parent, host.c_str(), port, userText.c_str(),
                                                                         passwordText.c_str(), service, flags,
                                                                         context));
  return connection ? handles_.Add(Entry{unique_hinternet(connection), session}) : 0;
}

bool WinInetFtpClient::FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists,
                                  uint32_t attributes, uint32_t flags, uintptr_t context) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string remotePath, target;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, remotePath)) return false;
  if (!ToAnsiArgument(lastError_, codePage_, local, LineBreaks::kAllowed, target)) return false;

  // WinINet deletes its local file when the transfer fails, so it never gets the target itself.
  WindowsDownloadFiles files;
  ftp::DownloadPlacement placement(files);
  if (int32_t error = placement.Prepare(target, failIfExists)) return Refuse(lastError_, error, false);
  DownloadWatch watch(observer_, placement.partial());
  const BOOL got = ::FtpGetFileA(connection, remotePath.c_str(), placement.partial().c_str(), FALSE, attributes,
                                 flags, context);
  const int32_t error = LastWin32Error();
  watch.Stop();
  lastError_.code = got ? 0 : error;
  if (!got) return false;
  const uint64_t size = files.SizeOf(placement.partial());
  if (observer_) observer_->OnTransfer(size, static_cast<int64_t>(size), true);
  return Finish(lastError_, placement.Place(size), true);
}

bool WinInetFtpClient::FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t flags,
                                  uintptr_t context) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string source, remotePath;
  if (!ToAnsiArgument(lastError_, codePage_, local, LineBreaks::kAllowed, source)) return false;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, remotePath)) return false;
  if (!Recorded(lastError_, ::FtpPutFileA(connection, source.c_str(), remotePath.c_str(), flags, context))) {
    return false;
  }
  if (observer_) {
    const uint64_t size = FileSize(source);
    observer_->OnTransfer(size, static_cast<int64_t>(size), true);
  }
  return true;
}

Handle WinInetFtpClient::FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t flags,
                                          uintptr_t context) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return 0;
  std::string remotePath;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, remotePath)) return 0;
  WIN32_FIND_DATAA found{};
  HINTERNET search =
      RecordedNonNull(lastError_, ::FtpFindFirstFileA(connection, remotePath.c_str(), &found, flags, context));
  // Wine leaves 0 for a missing path.
  if (!search) return Refuse(lastError_, lastError_.code ? lastError_.code : ERROR_NO_MORE_FILES, Handle{0});
  record = ToFindData(found);
  return handles_.Add(Entry{unique_hinternet(search), connect});
}

bool WinInetFtpClient::FtpRenameFile(Handle connect, TextView existing, TextView renamed) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string from, to;
  if (!ToAnsiArgument(lastError_, codePage_, existing, LineBreaks::kRefused, from)) return false;
  if (!ToAnsiArgument(lastError_, codePage_, renamed, LineBreaks::kRefused, to)) return false;
  return Recorded(lastError_, ::FtpRenameFileA(connection, from.c_str(), to.c_str()));
}

bool WinInetFtpClient::FtpDeleteFile(Handle connect, TextView remote) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, path)) return false;
  return Recorded(lastError_, ::FtpDeleteFileA(connection, path.c_str()));
}

bool WinInetFtpClient::FtpCreateDirectory(Handle connect, TextView directory) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, directory, LineBreaks::kRefused, path)) return false;
  return Recorded(lastError_, ::FtpCreateDirectoryA(connection, path.c_str()));
}

bool WinInetFtpClient::InternetCloseHandle(Handle handle) {
  Entry* entry = handles_.Find(handle);
  if (!entry) return Refuse(lastError_, ERROR_INVALID_HANDLE, false);
  CloseChildren(handle);
  HINTERNET internet = entry->internet.release();
  handles_.Remove(handle);
  return Recorded(lastError_, ::InternetCloseHandle(internet));
}

}  // namespace kadroo::windows
