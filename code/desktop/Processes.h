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
  // Starts one command line, the program split off it by the platform's rules, and does not wait for it.
  // Raises a RuntimeError when the program cannot be started.
  virtual void StartProcess(TextView commandLine, int32_t showState) = 0;
};

}  // namespace kadroo
