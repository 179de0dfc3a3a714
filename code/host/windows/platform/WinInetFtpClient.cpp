#include "host/windows/platform/WinInetFtpClient.h"

#include <vector>

#include "host/windows/platform/AnsiCodePage.h"
#include "host/windows/platform/WindowsLocalFiles.h"

namespace kadroo::windows {
namespace {

int32_t Code(DWORD error) { return static_cast<int32_t>(error); }

// The directory part of a local path, ending in its separator; "." for a bare name.
std::string DirectoryOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator + 1);
}

}  // namespace

WinInetFtpClient::~WinInetFtpClient() {
  // Children before parents: every handle is numbered after its parent, barring a wrap of the numbers.
  auto& entries = handles_.entries();
  while (!entries.empty()) entries.erase(std::prev(entries.end()));
}

HINTERNET WinInetFtpClient::Lookup(Handle handle) {
  Entry* entry = handles_.Find(handle);
  if (!entry) {
    lastError_.code = ERROR_INVALID_HANDLE;
    return nullptr;
  }
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
    if (int32_t error = ToAnsiArgument(codePage_, text, LineBreaks::kRefused, *out)) return Finish(error, Handle{0});
  }
  HINTERNET session =
      ::InternetOpenA(agentText.c_str(), accessType, proxyText.c_str(), bypassText.c_str(), flags);
  const DWORD error = ::GetLastError();
  if (!session) return Finish(Code(error), Handle{0});
  return Finish(0, handles_.Add(Entry{unique_hinternet(session), 0}));
}

Handle WinInetFtpClient::InternetConnect(Handle session, TextView server, uint16_t port, TextView user,
                                         TextView password, uint32_t service, uint32_t flags, uintptr_t context) {
  HINTERNET parent = Lookup(session);
  if (!parent) return 0;
  std::string host, userText, passwordText;
  for (auto [text, out] : {std::pair{server, &host}, {user, &userText}, {password, &passwordText}}) {
    if (int32_t error = ToAnsiArgument(codePage_, text, LineBreaks::kRefused, *out)) return Finish(error, Handle{0});
  }
  HINTERNET connection = ::InternetConnectA(parent, host.c_str(), port, userText.c_str(), passwordText.c_str(),
                                            service, flags, context);
  const DWORD error = ::GetLastError();
  if (!connection) return Finish(Code(error), Handle{0});
  return Finish(0, handles_.Add(Entry{unique_hinternet(connection), session}));
}

bool WinInetFtpClient::FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists,
                                  uint32_t attributes, uint32_t flags, uintptr_t context) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string remotePath, target;
  if (int32_t error = ToAnsiArgument(codePage_, remote, LineBreaks::kRefused, remotePath)) return Finish(error, false);
  if (int32_t error = ToAnsiArgument(codePage_, local, LineBreaks::kAllowed, target)) return Finish(error, false);

  const DWORD existing = ::GetFileAttributesA(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES) {
    if (failIfExists) return Finish(ERROR_FILE_EXISTS, false);
    // Refused before anything is fetched: the finished file could not take its place.
    if (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Finish(ERROR_ACCESS_DENIED, false);
  }
  char partial[MAX_PATH];
  if (::GetTempFileNameA(DirectoryOf(target).c_str(), "kdp", 0, partial) == 0) {
    const DWORD error = ::GetLastError();
    return Finish(Code(error), false);
  }
  const BOOL fetched = ::FtpGetFileA(connection, remotePath.c_str(), partial, FALSE, attributes, flags, context);
  DWORD error = ::GetLastError();
  if (fetched) {
    const BOOL moved = ::MoveFileExA(partial, target.c_str(), MOVEFILE_REPLACE_EXISTING);
    error = ::GetLastError();
    if (moved) return Finish(0, true);
  }
  ::DeleteFileA(partial);
  return Finish(Code(error), false);
}

bool WinInetFtpClient::FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t flags,
                                  uintptr_t context) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string source, remotePath;
  if (int32_t error = ToAnsiArgument(codePage_, local, LineBreaks::kAllowed, source)) return Finish(error, false);
  if (int32_t error = ToAnsiArgument(codePage_, remote, LineBreaks::kRefused, remotePath)) return Finish(error, false);
  const BOOL ok = ::FtpPutFileA(connection, source.c_str(), remotePath.c_str(), flags, context);
  const DWORD error = ::GetLastError();
  return Finish(ok ? 0 : Code(error), ok != FALSE);
}

Handle WinInetFtpClient::FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t flags,
                                          uintptr_t context) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return 0;
  std::string remotePath;
  if (int32_t error = ToAnsiArgument(codePage_, remote, LineBreaks::kRefused, remotePath)) {
    return Finish(error, Handle{0});
  }
  WIN32_FIND_DATAA found{};
  HINTERNET search = ::FtpFindFirstFileA(connection, remotePath.c_str(), &found, flags, context);
  const DWORD error = ::GetLastError();
  if (!search) return Finish(error == 0 ? ERROR_NO_MORE_FILES : Code(error), Handle{0});
  record = ToFindData(found);
  return Finish(0, handles_.Add(Entry{unique_hinternet(search), connect}));
}

bool WinInetFtpClient::FtpRenameFile(Handle connect, TextView existing, TextView renamed) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string from, to;
  if (int32_t error = ToAnsiArgument(codePage_, existing, LineBreaks::kRefused, from)) return Finish(error, false);
  if (int32_t error = ToAnsiArgument(codePage_, renamed, LineBreaks::kRefused, to)) return Finish(error, false);
  const BOOL ok = ::FtpRenameFileA(connection, from.c_str(), to.c_str());
  const DWORD error = ::GetLastError();
  return Finish(ok ? 0 : Code(error), ok != FALSE);
}

bool WinInetFtpClient::FtpDeleteFile(Handle connect, TextView remote) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string path;
  if (int32_t error = ToAnsiArgument(codePage_, remote, LineBreaks::kRefused, path)) return Finish(error, false);
  const BOOL ok = ::FtpDeleteFileA(connection, path.c_str());
  const DWORD error = ::GetLastError();
  return Finish(ok ? 0 : Code(error), ok != FALSE);
}

bool WinInetFtpClient::FtpCreateDirectory(Handle connect, TextView directory) {
  HINTERNET connection = Lookup(connect);
  if (!connection) return false;
  std::string path;
  if (int32_t error = ToAnsiArgument(codePage_, directory, LineBreaks::kRefused, path)) return Finish(error, false);
  const BOOL ok = ::FtpCreateDirectoryA(connection, path.c_str());
  const DWORD error = ::GetLastError();
  return Finish(ok ? 0 : Code(error), ok != FALSE);
}

bool WinInetFtpClient::InternetCloseHandle(Handle handle) {
  Entry* entry = handles_.Find(handle);
  if (!entry) return Finish(ERROR_INVALID_HANDLE, false);
  CloseChildren(handle);
  HINTERNET internet = entry->internet.release();
  handles_.Remove(handle);
  const BOOL ok = ::InternetCloseHandle(internet);
  const DWORD error = ::GetLastError();
  return Finish(ok ? 0 : Code(error), ok != FALSE);
}

}  // namespace kadroo::windows
