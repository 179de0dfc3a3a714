#include "host/windows/platform/WindowsLocalFiles.h"

#include <cstring>

#include "control/RuntimeError.h"
#include "host/windows/platform/AnsiCodePage.h"

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

bool WindowsLocalFiles::DeleteFile(TextView path) {
  std::string local;
  if (int32_t error = ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, local)) {
    lastError_.code = error;
    return false;
  }
  const BOOL ok = ::DeleteFileA(local.c_str());
  const DWORD error = ::GetLastError();
  lastError_.code = ok ? 0 : static_cast<int32_t>(error);
  return ok != FALSE;
}

Handle WindowsLocalFiles::FindFirstFile(TextView path, FindData& record) {
  std::string local;
  if (int32_t error = ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, local)) {
    lastError_.code = error;
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
  HANDLE created = ::CreateFileA(local.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    switch (::GetLastError()) {
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
      case ERROR_WRITE_PROTECT: Raise(ErrorNumber::kPermissionDenied);
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_DRIVE: Raise(ErrorNumber::kPathNotFound);
      default: Raise(ErrorNumber::kPathFileAccessError);
    }
  }
  unique_kernel_handle file(created);
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  if (!ok || written != content.size()) Raise(ErrorNumber::kPathFileAccessError);
}

void MessageBoxPrompt::MessageBox(TextView prompt, TextView title) {
  const std::wstring text = ToWide(prompt);
  const std::wstring caption = ToWide(title);
  ::MessageBoxW(owner_, text.c_str(), caption.c_str(), MB_OK);
}

}  // namespace kadroo::windows
