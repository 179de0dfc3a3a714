#pragma once
// What the server knows about itself: its file, its type library, and the count of live objects and locks that
// DllCanUnloadNow answers from.
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace kadroo::windows::module {

std::wstring Path();

// The type information of `guid` (an interface or the class) from the type library in this module, which is
// loaded once, at the first call, and released when the module is unloaded.
HRESULT TypeInfo(REFGUID guid, ITypeInfo** info);

void AddObject();
void ReleaseObject();
void Lock();
void Unlock();
bool CanUnload();

// Runs the library's per-thread start-up once in the calling thread; called before an object is created.
void StartThread();

}  // namespace kadroo::windows::module
