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
  // Raises 53 when the program is not found, 70 when it cannot be run (a directory, not a program, access),
  // 5 for anything else; both handles of a started process are closed at once.
  void StartProcess(TextView application, TextView commandLine, int32_t showState) override;

 private:
  CodePage& codePage_;
};

}  // namespace kadroo::windows
