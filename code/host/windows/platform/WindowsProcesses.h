#pragma once
// Path tests through shlwapi and program starts through CreateProcessA.
#include "desktop/Processes.h"
#include "control/Platform.h"

#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

class WindowsProcesses final : public Processes {
 public:
  explicit WindowsProcesses(CodePage& codePage) : codePage_(codePage) {}
  int32_t PathFileExists(TextView path) override;
  // An empty `application` is looked up from the command line's first word in the system directory and on
  // PATH, never in the working directory. Raises 53 when the program is not found, 70 when it cannot be run
  // (a directory, not a program, access), 5 for anything else; both handles of a started process are closed.
  void StartProcess(TextView application, TextView commandLine, int32_t showState) override;

  // Programs leave the job this process runs in, where the job lets them, so that they outlive it: a browser
  // runs its native messaging host in a job that ends with the host.
  void SetBreakAwayFromJob(bool breakAway) { breakAway_ = breakAway; }

 private:
  CodePage& codePage_;
  bool breakAway_ = false;
};

}  // namespace kadroo::windows
