// kadrooa.exe: the policy from the registry, the browser's streams on the standard handles in binary mode, the
// programs started out of the browser's job.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

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
    DWORD got = 0;
    const DWORD asked = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    return ::ReadFile(input_, buffer, asked, &got, nullptr) ? got : 0;
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

  // A pipe's end shows when peeking at it fails with a broken pipe; other input (a file) never ends this way.
  void WatchInputEnd(std::function<void()> ended) override {
    if (::GetFileType(input_) != FILE_TYPE_PIPE) return;
    ended_ = std::move(ended);
    const HANDLE thread = ::CreateThread(nullptr, 0, &WatchInput, this, 0, nullptr);
    if (thread) ::CloseHandle(thread);
  }

 private:
  static DWORD WINAPI WatchInput(void* self) {
    auto* system = static_cast<WindowsHostSystem*>(self);
    for (;;) {
      DWORD available = 0;
      if (!::PeekNamedPipe(system->input_, nullptr, 0, nullptr, &available, nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA) {
          system->ended_();
        }
        return 0;
      }
      ::Sleep(100);
    }
  }

  WindowsPlatform host_;
  WindowsPaths paths_;
  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  std::function<void()> ended_;
};

}  // namespace
}  // namespace kadroo::windows

std::unique_ptr<kadroo::jsonrpc::HostSystem> kadroo::jsonrpc::MakeHostSystem() {
  return std::make_unique<windows::WindowsHostSystem>();
}
