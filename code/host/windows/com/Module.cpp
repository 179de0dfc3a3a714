#include "safety/basSafeCtl.h"

#include "host/windows/com/Module.h"

#include <oleauto.h>

#include <atomic>

#include "host/windows/embedding/Label.h"

namespace kadroo::windows::module {
namespace {

std::atomic<ITypeLib*> typeLibrary{nullptr};
std::atomic<long> objects{0};
std::atomic<long> locks{0};
thread_local bool threadStarted = false;

}  // namespace

std::wstring Path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT TypeInfo(REFGUID guid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  ITypeLib* library = typeLibrary.load();
  if (!library) {
    HRESULT hr = ::LoadTypeLibEx(Path().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    // Another thread may have loaded it meanwhile: theirs is kept.
    ITypeLib* expected = nullptr;
    if (!typeLibrary.compare_exchange_strong(expected, library)) {
      library->Release();
      library = expected;
    }
  }
  return library->GetTypeInfoOfGuid(guid, info);
}

void AddObject() { ++objects; }
void ReleaseObject() { --objects; }
void Lock() { ++locks; }
void Unlock() { --locks; }
bool CanUnload() { return objects == 0 && locks == 0; }

void StartThread() {
  if (threadStarted) return;
  basSafeCtl::ThreadStartup();
  threadStarted = true;
}

}  // namespace kadroo::windows::module

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
  // Unloaded by FreeLibrary (not at the process's end, when other libraries may be gone already).
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    if (ITypeLib* library = kadroo::windows::module::typeLibrary.exchange(nullptr)) library->Release();
  }
  return TRUE;
}
