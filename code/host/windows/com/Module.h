#pragma once
// What the server knows about itself: its module, and the count of live objects and locks that DllCanUnloadNow
// answers from.
#include <windows.h>

#include <string>

namespace kadroo::windows::module {

HINSTANCE Instance();
std::wstring Path();

void AddObject();
void ReleaseObject();
void Lock();
void Unlock();
bool CanUnload();

// Runs the library's per-thread start-up once in the calling thread; called before an object is created.
void StartThread();

}  // namespace kadroo::windows::module
