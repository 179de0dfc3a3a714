#include "safety/basSafeCtl.h"

#include "com/Module.h"

#include <atomic>

namespace kadroo::windows::module {
namespace {

HINSTANCE instance = nullptr;
std::atomic<long> objects{0};
std::atomic<long> locks{0};
thread_local bool threadStarted = false;

}  // namespace

HINSTANCE Instance() { return instance; }

std::wstring Path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
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

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    kadroo::windows::module::instance = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
