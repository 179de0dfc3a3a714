#include "host/windows/platform/WindowsProcesses.h"

#include <vector>

#include "control/RuntimeError.h"
#include "host/windows/platform/AnsiCodePage.h"

namespace kadroo::windows {
namespace {

[[noreturn]] void RaiseForStart(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY: Raise(ErrorNumber::kFileNotFound);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH: Raise(ErrorNumber::kPermissionDenied);
    default: Raise(ErrorNumber::kInvalidProcedureCall);
  }
}

}  // namespace

int32_t WindowsProcesses::PathFileExists(TextView path) {
  std::string local;
  if (ToAnsiArgument(codePage_, path, LineBreaks::kAllowed, local) != 0 || local.empty()) return 0;
  return ::PathFileExistsA(local.c_str()) ? 1 : 0;
}

void WindowsProcesses::StartProcess(TextView application, TextView commandLine, int32_t showState) {
  std::string program, line;
  if (ToAnsiArgument(codePage_, application, LineBreaks::kAllowed, program) != 0 ||
      ToAnsiArgument(codePage_, commandLine, LineBreaks::kAllowed, line) != 0) {
    Raise(ErrorNumber::kInvalidProcedureCall);
  }
  // CreateProcessA may write into the command line.
  std::vector<char> mutableLine(line.begin(), line.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showState);
  PROCESS_INFORMATION started{};
  const BOOL ok = ::CreateProcessA(program.empty() ? nullptr : program.c_str(), mutableLine.data(), nullptr,
                                   nullptr, FALSE, 0, nullptr, nullptr, &startup, &started);
  const DWORD error = ::GetLastError();
  if (!ok) RaiseForStart(error);
  unique_kernel_handle process(started.hProcess);
  unique_kernel_handle thread(started.hThread);
}

}  // namespace kadroo::windows
