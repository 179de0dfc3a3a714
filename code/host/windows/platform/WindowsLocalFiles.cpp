#include "host/windows/platform/WindowsLocalFiles.h"

#include <cstring>

#include "control/RuntimeError.h"
#include "host/windows/platform/AnsiCodePage.h"

namespace kadroo::windows {
namespace {

FileTime ToFileTime(const FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

// Opens `path` for writing, or raises the runtime's error for why it cannot be.
HANDLE OpenForWriting(const std::string& path, DWORD disposition, DWORD flags) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, flags, nullptr);
  if (file != INVALID_HANDLE_VALUE) return file;
  switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT: Raise(ErrorNumber::kPermissionDenied);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: Raise(ErrorNumber::kPathNotFound);
    default: Raise(ErrorNumber::kPathFileAccessError);
  }
}

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

bool WindowsLocalFiles::DeleteFile(TextView path) {
  std::string local;
  if (int32_t error = ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, local)) {
    lastError_.code = error;
    return false;
  }
  return Recorded(lastError_, ::DeleteFileA(local.c_str()));
}

Handle WindowsLocalFiles::FindFirstFile(TextView path, FindData& record) {
  std::string local;
  if (int32_t error = ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, local)) {
    lastError_.code = error;
    return kInvalidHandle;
  }
  // The record of the path itself, as the control asks for it: a wildcard would find some other file.
  if (local.find_first_of("*?") != std::string::npos) {
    lastError_.code = ERROR_INVALID_NAME;
    return kInvalidHandle;
  }
  WIN32_FIND_DATAA found{};
  unique_hfind search(::FindFirstFileA(local.c_str(), &found));
  const DWORD error = ::GetLastError();
  if (!search) {
    lastError_.code = static_cast<int32_t>(error);
    return kInvalidHandle;
  }
  lastError_.code = 0;
  record = ToFindData(found);
  return searches_.Add(std::move(search));
}

void WindowsLocalFiles::FindClose(Handle search) { searches_.Remove(search); }

Text WindowsLocalFiles::GetTempPath() {
  char buffer[MAX_PATH + 1];
  const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
  const DWORD error = ::GetLastError();
  if (length == 0 || length > sizeof buffer) {
    lastError_.code = length == 0 ? static_cast<int32_t>(error) : ERROR_BUFFER_OVERFLOW;
    return Text();
  }
  lastError_.code = 0;
  return codePage_.FromAnsi(std::string_view(buffer, length));
}

std::optional<Text> WindowsLocalFiles::GetTempFileName(TextView dir, TextView prefix) {
  std::string directory, head;
  for (auto [text, out] : {std::pair{dir, &directory}, {prefix, &head}}) {
    if (int32_t error = ToAnsiArgument(codePage_, text, LineBreaks::kAllowed, *out)) {
      lastError_.code = error;
      return std::nullopt;
    }
  }
  char buffer[MAX_PATH];
  const UINT unique = ::GetTempFileNameA(directory.c_str(), head.c_str(), 0, buffer);
  const DWORD error = ::GetLastError();
  if (unique == 0) {
    lastError_.code = static_cast<int32_t>(error);
    return std::nullopt;
  }
  lastError_.code = 0;
  return codePage_.FromAnsi(buffer);
}

Text WindowsLocalFiles::QuitScriptPath() { return u"c:\\quit.txt"; }

void WindowsLocalFiles::WriteTextFile(TextView path, TextView line) {
  std::string local, content;
  if (ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, local) != 0) Raise(ErrorNumber::kPathFileAccessError);
  if (ToAnsiArgument(codePage_, line, LineBreaks::kAllowed, content) != 0) {
    Raise(ErrorNumber::kInvalidProcedureCall);
  }
  content += "\r\n";
  // A planted link is replaced, not followed: the file is opened as itself and must be a plain disk file.
  constexpr DWORD kAsItself = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  unique_kernel_handle file(OpenForWriting(local, OPEN_ALWAYS, kAsItself));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info) || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    Raise(ErrorNumber::kPermissionDenied);
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    file.reset();
    if (!::DeleteFileA(local.c_str())) Raise(ErrorNumber::kPermissionDenied);
    file = unique_kernel_handle(OpenForWriting(local, CREATE_NEW, kAsItself));
  }
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  if (!ok || written != content.size() || !::SetEndOfFile(file.get())) Raise(ErrorNumber::kPathFileAccessError);
}

void MessageBoxPrompt::MessageBox(TextView prompt, TextView title) {
  const std::wstring text = ToWide(prompt);
  const std::wstring caption = ToWide(title);
  ::MessageBoxW(owner_, text.c_str(), caption.c_str(), MB_OK);
}

}  // namespace kadroo::windows
