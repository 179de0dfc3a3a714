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

// The program that a command line names first, found in the system directory or on PATH, never in the working
// directory, where anyone who can write there could plant it; an empty text when it is nowhere.
std::string FindProgram(const std::string& commandLine) {
  std::string name;
  if (!commandLine.empty() && commandLine[0] == '"') {
    name = commandLine.substr(1, commandLine.find('"', 1) - 1);
  } else {
    name = commandLine.substr(0, commandLine.find_first_of(" \t"));
  }
  if (name.empty()) return std::string();
  if (name.find_first_of("\\/:") != std::string::npos) return name;
  char system[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(system, sizeof system);
  std::string searched = length > 0 && length < sizeof system ? std::string(system, length) : std::string();
  const DWORD pathLength = ::GetEnvironmentVariableA("PATH", nullptr, 0);
  if (pathLength > 0) {
    std::string path(pathLength, '\0');
    path.resize(::GetEnvironmentVariableA("PATH", path.data(), pathLength));
    searched += ";" + path;
  }
  char found[MAX_PATH];
  const DWORD size = ::SearchPathA(searched.c_str(), name.c_str(), ".exe", sizeof found, found, nullptr);
  return size > 0 && size < sizeof found ? std::string(found, size) : std::string();
}

bool InJob() {
  BOOL inJob = FALSE;
  return ::IsProcessInJob(::GetCurrentProcess(), nullptr, &inJob) && inJob;
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
  if (program.empty()) {
    program = FindProgram(line);
    if (program.empty()) Raise(ErrorNumber::kFileNotFound);
  }
  // A directory is not a program; Windows says so with 5, Wine with 6.
  const DWORD attributes = ::GetFileAttributesA(program.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Raise(ErrorNumber::kPermissionDenied);
  }
  // CreateProcessA may write into the command line.
  std::vector<char> mutableLine(line.begin(), line.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showState);
  PROCESS_INFORMATION started{};
  const auto start = [&](DWORD flags) {
    return ::CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                            &startup, &started);
  };
  // A job that does not let programs leave refuses the flag with 5; the program then starts inside it. (Asking
  // the job first is no use: Wine answers with no limits at all.)
  const bool leave = breakAway_ && InJob();
  BOOL ok = start(leave ? CREATE_BREAKAWAY_FROM_JOB : 0);
  DWORD error = ::GetLastError();
  if (!ok && leave && error == ERROR_ACCESS_DENIED) {
    ok = start(0);
    error = ::GetLastError();
  }
  if (!ok) RaiseForStart(error);
  unique_kernel_handle process(started.hProcess);
  unique_kernel_handle thread(started.hThread);
}

}  // namespace kadroo::windows
