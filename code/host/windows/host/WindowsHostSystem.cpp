// kadrooa.exe: the policy from the registry, the browser's streams on the standard handles in binary mode, the
// programs started out of the browser's job.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "host/jsonrpc/HostSystem.h"
#include "host/windows/platform/RegistryPolicy.h"
#include "host/windows/platform/WindowsPlatform.h"

#include <windows.h>

namespace kadroo::windows {
namespace {

class WindowsHostSystem final : public jsonrpc::HostSystem {
 public:
  WindowsHostSystem() {
    // Frames and the line protocol alike: no CR added before a LF, no byte 26 taken for the end.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
  }

  Platform& platform() override { return host_.platform(); }
  PathResolver& paths() override { return paths_; }

  std::optional<BridgePolicy> LoadPolicy(std::string& problem) override {
    RegistryPolicy loaded = LoadRegistryPolicy();
    if (loaded.absent()) return BridgePolicy{};  // no policy: nothing is allowed
    if (!loaded.loaded()) {
      problem = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\KadroOA: " + loaded.problem;
      return std::nullopt;
    }
    return std::move(loaded.policy);
  }

  void ObserveTransfers(TransferObserver* observer) override { host_.SetTransferObserver(observer); }

  bool TakeBrowserStreams() override {
    host_.SetBreakAwayFromJob(true);
    input_ = ::GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, ::GetStdHandle(STD_OUTPUT_HANDLE), self, &output_, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
      return false;
    }
    // Whatever else writes to standard output, through the handle or the C runtime, lands on standard error.
    std::fflush(stdout);
    const int error = _fileno(stderr);
    if (error < 0 || _dup2(error, _fileno(stdout)) != 0) {
      const int null = _open("NUL", _O_WRONLY);
      if (null < 0 || _dup2(null, _fileno(stdout)) != 0) return false;
      _close(null);
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
    return true;
  }

  size_t ReadInput(char* buffer, size_t size) override {
    if (!reader_) return ReadDirectly(buffer, size);
    ::EnterCriticalSection(&lock_);
    while (pending_.empty() && !ended_) ::SleepConditionVariableCS(&arrived_, &lock_, INFINITE);
    const size_t n = pending_.size() < size ? pending_.size() : size;
    pending_.copy(buffer, n);
    pending_.erase(0, n);
    ::LeaveCriticalSection(&lock_);
    return n;
  }

  bool WriteOutput(std::string_view bytes) override {
    for (size_t done = 0; done < bytes.size();) {
      DWORD written = 0;
      if (!::WriteFile(output_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
          written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }

  // The input is read by a thread of its own, which sees its end whatever the main thread is doing, and the main
  // thread takes what it read. (Peeking at the pipe would read nothing, but Wine cannot peek at its pipes.)
  void WatchInputEnd(std::function<void()> ended) override {
    atEnd_ = std::move(ended);
    ::InitializeCriticalSection(&lock_);
    ::InitializeConditionVariable(&arrived_);
    reader_ = ::CreateThread(nullptr, 0, &ReadAll, this, 0, nullptr);
  }

 private:
  size_t ReadDirectly(char* buffer, size_t size) {
    DWORD got = 0;
    const DWORD asked = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    return ::ReadFile(input_, buffer, asked, &got, nullptr) ? got : 0;
  }

  static DWORD WINAPI ReadAll(void* self) {
    auto* system = static_cast<WindowsHostSystem*>(self);
    char buffer[65536];
    for (;;) {
      const size_t got = system->ReadDirectly(buffer, sizeof buffer);
      ::EnterCriticalSection(&system->lock_);
      system->pending_.append(buffer, got);
      system->ended_ = got == 0;
      ::WakeAllConditionVariable(&system->arrived_);
      ::LeaveCriticalSection(&system->lock_);
      if (got == 0) {
        system->atEnd_();
        return 0;
      }
    }
  }

  WindowsPlatform host_;
  WindowsPaths paths_;
  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  // What the reading thread has read and the main thread not yet taken, under lock_.
  HANDLE reader_ = nullptr;
  CRITICAL_SECTION lock_;
  CONDITION_VARIABLE arrived_;
  std::string pending_;
  bool ended_ = false;
  std::function<void()> atEnd_;
};

}  // namespace
}  // namespace kadroo::windows

std::unique_ptr<kadroo::jsonrpc::HostSystem> kadroo::jsonrpc::MakeHostSystem() {
  return std::make_unique<windows::WindowsHostSystem>();
}
