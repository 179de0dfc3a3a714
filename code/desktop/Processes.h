#pragma once
// Paths and processes, as shlwapi and kernel32 offer them.
#include <cstdint>

#include "control/Text.h"

namespace kadroo {

constexpr int32_t SW_SHOWMINIMIZED = 2;

class Processes {
 public:
  virtual ~Processes() = default;
  // 1 when the path exists, a directory included; any other value when it does not.
  virtual int32_t PathFileExists(TextView path) = 0;
  // Starts a program and does not wait for it. When `application` is not empty it is the program, started
  // exactly as named (no search), and `commandLine` is what the program receives as its command line; when it
  // is empty, the program is split off `commandLine` by the platform's rules and searched for.
  // Raises a RuntimeError when the program cannot be started.
  virtual void StartProcess(TextView application, TextView commandLine, int32_t showState) = 0;
};

}  // namespace kadroo
