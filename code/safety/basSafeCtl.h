#pragma once
// The object-safety flags, kept once per thread, and the start-up routine that sets them.

namespace kadroo::basSafeCtl {

extern thread_local bool bScriptingSafe;
extern thread_local bool bInitializingSafe;

// Run once in each thread before the first control is created there.
void ThreadStartup();

}  // namespace kadroo::basSafeCtl
