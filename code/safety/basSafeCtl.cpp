#include "safety/basSafeCtl.h"

namespace kadroo::basSafeCtl {

thread_local bool bScriptingSafe = false;
thread_local bool bInitializingSafe = false;

void ThreadStartup() {
  bScriptingSafe = true;
  bInitializingSafe = true;
}

}  // namespace kadroo::basSafeCtl
