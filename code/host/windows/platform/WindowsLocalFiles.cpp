#include "host/windows/platform/WindowsLocalFiles.h"

#include <vector>

#include "control/RuntimeError.h"
#include "host/windows/platform/FindData.h"

namespace kadroo::windows {
namespace {

// Opens `path` for writing, or raises the runtime's error for why it cannot be.
unique_file OpenForWriting(const std::string& path, DWORD disposition, DWORD flags) {
  unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, flags, nullptr));
  if (file) return file;
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

bool WindowsLocalFiles::DeleteFile(TextView path) {
  std::string local;
  if (!ToAnsiArgument(lastError_, codePage_, path, LineBreaks::kAllowed, local)) return false;
  return Recorded(lastError_, ::DeleteFileA(local.c_str()));
}

Handle WindowsLocalFiles::FindFirstFile(TextView path, FindData& record) {
  std::string local;
  if (!ToAnsiArgument(lastError_, codePage_, path, LineBreaks::kAllowed, local)) return kInvalidHandle;
  // The record of the path itself, as the control asks for it: a wildcard would find some other file.
  if (local.find_first_of("*?") != std::string::npos) return Refuse(lastError_, ERROR_INVALID_NAME, kInvalidHandle);
  WIN32_FIND_DATAA found{};
  unique_hfind search(RecordedValid(lastError_, ::FindFirstFileA(local.c_str(), &found)));
  if (!search) return kInvalidHandle;
  record = ToFindData(found);
  return searches_.Add(std::move(search));
}

void WindowsLocalFiles::FindClose(Handle search) { searches_.Remove(search); }

bool WindowsLocalFiles::ReadFile(TextView path, const std::function<void(std::string_view)>& piece) {
  std::string local;
  if (!ToAnsiArgument(lastError_, codePage_, path, LineBreaks::kAllowed, local)) return false;
  unique_file file(::CreateFileA(local.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return Refuse(lastError_, LastWin32Error(), false);
  std::vector<char> buffer(65536);
  DWORD got = 0;
  while (true) {
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      return Refuse(lastError_, LastWin32Error(), false);
    }
    if (got == 0) break;
    piece(std::string_view(buffer.data(), got));
  }
  return Finish(lastError_, 0, true);
}

Text WindowsLocalFiles::GetTempPath() {
  char buffer[MAX_PATH + 1];
  const DWORD length = RecordedLength(lastError_, ::GetTempPathA(sizeof buffer, buffer), sizeof buffer);
  return length ? codePage_.FromAnsi(std::string_view(buffer, length)) : Text();
}

std::optional<Text> WindowsLocalFiles::GetTempFileName(TextView dir, TextView prefix) {
  std::string directory, head;
  for (auto [text, out] : {std::pair{dir, &directory}, {prefix, &head}}) {
    if (!ToAnsiArgument(lastError_, codePage_, text, LineBreaks::kAllowed, *out)) return std::nullopt;
  }
  char buffer[MAX_PATH];
  if (!RecordedNonNull(lastError_, ::GetTempFileNameA(directory.c_str(), head.c_str(), 0, buffer))) return std::nullopt;
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
  unique_file file = OpenForWriting(local, OPEN_ALWAYS, kAsItself);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info) || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    Raise(ErrorNumber::kPermissionDenied);
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    file.reset();
    if (!::DeleteFileA(local.c_str())) Raise(ErrorNumber::kPermissionDenied);
    file = OpenForWriting(local, CREATE_NEW, kAsItself);
  }
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  if (!ok || written != content.size() || !::SetEndOfFile(file.get())) Raise(ErrorNumber::kPathFileAccessError);
}

}  // namespace kadroo::windows
