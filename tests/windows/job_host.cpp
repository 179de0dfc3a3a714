// job_host: starts a program as a browser starts its native messaging host, in a job object that kills whatever is
// left in it once the program has ended, with this program's standard handles. The job lets programs break away
// from it unless "--no-breakaway" comes first. Exits with the program's status, or 255 when it cannot start it.
#include <windows.h>

#include <string>

namespace {

std::wstring Quoted(const std::wstring& argument) {
  return argument.find_first_of(L" \t\"") == std::wstring::npos ? argument : L"\"" + argument + L"\"";
}

HANDLE Inheritable(DWORD which) {
  HANDLE copy = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(which), ::GetCurrentProcess(), &copy, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
  return copy;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  const bool breakaway = !(argc > 1 && std::wstring(argv[1]) == L"--no-breakaway");
  if (!breakaway) first = 2;
  std::wstring line;
  for (int i = first; i < argc; ++i) line += (line.empty() ? L"" : L" ") + Quoted(argv[i]);
  if (line.empty()) return 255;

  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | (breakaway ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
  if (!job || !::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) return 255;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
  startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
  startup.hStdError = Inheritable(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &started)) {
    return 255;
  }
  // Our copies closed, the program holds the only ones: its input ends when our caller closes it.
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) ::CloseHandle(handle);
  if (!::AssignProcessToJobObject(job, started.hProcess)) {
    ::TerminateProcess(started.hProcess, 255);
    return 255;
  }
  ::ResumeThread(started.hThread);
  ::WaitForSingleObject(started.hProcess, INFINITE);
  DWORD status = 255;
  ::GetExitCodeProcess(started.hProcess, &status);
  ::CloseHandle(job);  // what the program left in the job ends with it
  return static_cast<int>(status);
}
