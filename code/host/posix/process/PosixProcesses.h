#pragma once
// Paths and process start on Linux. No shell ever sees a command line: it is split by the Windows rules and
// the program is executed directly.
#include "control/Platform.h"
#include "desktop/Processes.h"

namespace kadroo::posix {

class PosixProcesses final : public Processes {
 public:
  explicit PosixProcesses(CodePage& codePage) : codePage_(codePage) {}
  int32_t PathFileExists(TextView path) override;
  // Starts the program with standard input and output on /dev/null and standard error shared, in a session
  // of its own, and returns once it runs. It is not a child of this process, so it never lingers as a zombie
  // here. Raises 53 (no such file), 70 (a directory, or not executable) or 5 (not a program, or text the code
  // page cannot carry). There are no windows, so `showState` has nothing to act on.
  void StartProcess(TextView application, TextView commandLine, int32_t showState) override;

 private:
  CodePage& codePage_;
};

}  // namespace kadroo::posix
