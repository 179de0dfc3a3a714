#include "host/windows/platform/WinInetFtpClient.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "host/ftp/DownloadPlacement.h"
#include "host/windows/platform/AnsiCodePage.h"
#include "host/windows/platform/FindData.h"
#include "host/windows/platform/WindowsFiles.h"

namespace kadroo::windows {
namespace {

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
  // Children before parents.
  const auto numbers = handles_.Select([](const Entry&) { return true; });
  for (auto number = numbers.rbegin(); number != numbers.rend(); ++number) handles_.Remove(*number);
}

HINTERNET WinInetFtpClient::Lookup(Handle handle) {
  Entry* entry = handles_.Find(handle);
  if (!entry) return Refuse(lastError_, ERROR_INVALID_HANDLE, HINTERNET{nullptr});
  return entry->internet.get();
}

void WinInetFtpClient::CloseChildren(Handle parent) {
  for (Handle child : handles_.Select([parent](const Entry& entry) { return entry.parent == parent; })) {
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
  // WinINet has no FTP over TLS: a session that asks for it never goes out in clear text from here.
  if (flags & INTERNET_FLAG_SECURE) return Refuse(lastError_, ERROR_INTERNET_SECURITY_CHANNEL_ERROR, Handle{0});
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
  WindowsFiles files(codePage_);
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

bool WinInetFtpClient::FtpCommand(Handle connect, TextView command, Text& response) {
  response.clear();
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string line;
  if (!ToAnsiArgument(lastError_, codePage_, command, LineBreaks::kRefused, line)) return false;
  // Wine hands out the response only once an error was recorded on the thread (and never clears it); an empty
  // command records one without sending anything, as Windows refuses it too.
  static thread_local bool primed = false;
  if (!primed) {
    ::FtpCommandA(connection, FALSE, FTP_TRANSFER_TYPE_BINARY, "", 0, nullptr);
    primed = true;
  }
  const BOOL ok = ::FtpCommandA(connection, FALSE, FTP_TRANSFER_TYPE_BINARY, line.c_str(), 0, nullptr);
  const int32_t error = ok ? 0 : LastWin32Error();
  // Wine copies as many bytes as the length says and then measures the text: one byte beyond stays NUL. It keeps
  // only a reply's last line; Windows keeps all of them and asks for a larger buffer where they do not fit.
  std::string text(1025, '\0');
  DWORD code = 0;
  DWORD length = 1024;
  BOOL got = ::InternetGetLastResponseInfoA(&code, text.data(), &length);
  if (!got && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && length < (1u << 20)) {
    text.assign(length + 2, '\0');
    length = length + 1;
    got = ::InternetGetLastResponseInfoA(&code, text.data(), &length);
  }
  if (got) {
    text.resize(std::min<size_t>(length, text.size() - 1));
    response = codePage_.FromAnsi(text.substr(0, text.find('\0')));
  }
  lastError_.code = error;
  return ok != FALSE;
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
