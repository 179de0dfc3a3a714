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

size_t ReadFrom(HANDLE input, char* buffer, size_t size) {
  DWORD got = 0;
  const DWORD asked = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  return ::ReadFile(input, buffer, asked, &got, nullptr) ? got : 0;
}

// The input read by a thread of its own, which sees its end whatever the main thread is doing; the main thread
// takes what it read. (Peeking at the pipe would read nothing, but Wine cannot peek at its pipes.) It lives as
// long as the process, since its thread may still be reading when kadrooa ends.
struct InputReader {
  InputReader(HANDLE handle, std::function<void()> ended) : input(handle), atEnd(std::move(ended)) {
    ::InitializeCriticalSection(&lock);
    ::InitializeConditionVariable(&arrived);
  }

  size_t Take(char* buffer, size_t size) {
    ::EnterCriticalSection(&lock);
    while (pending.empty() && !ended) ::SleepConditionVariableCS(&arrived, &lock, INFINITE);
    const size_t n = pending.size() < size ? pending.size() : size;
    pending.copy(buffer, n);
    pending.erase(0, n);
    ::LeaveCriticalSection(&lock);
    return n;
  }

  static DWORD WINAPI ReadAll(void* self) {
    auto* reader = static_cast<InputReader*>(self);
    char buffer[65536];
    for (;;) {
      const size_t got = ReadFrom(reader->input, buffer, sizeof buffer);
      ::EnterCriticalSection(&reader->lock);
      reader->pending.append(buffer, got);
      reader->ended = got == 0;
      ::WakeAllConditionVariable(&reader->arrived);
      ::LeaveCriticalSection(&reader->lock);
      if (got == 0) {
        reader->atEnd();
        return 0;
      }
    }
  }

  HANDLE input;
  std::function<void()> atEnd;
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE arrived;
  std::string pending;  // read and not yet taken, under `lock`
  bool ended = false;
};

class WindowsHostSystem final : public jsonrpc::HostSystem {
 public:
  WindowsHostSystem() {
    // Frames and the line protocol alike: no CR added before a LF, no byte 26 taken for the end.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
  }

  Platform& platform() override { return host_.platform(); }
  PathResolver& paths() override { return paths_; }

  PolicyLoad LoadPolicy() override { return LoadRegistryPolicy(); }

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
    return reader_ ? reader_->Take(buffer, size) : ReadFrom(input_, buffer, size);
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

  void WatchInputEnd(std::function<void()> ended) override {
    auto* reader = new InputReader(input_, std::move(ended));
    if (const HANDLE thread = ::CreateThread(nullptr, 0, &InputReader::ReadAll, reader, 0, nullptr)) {
      ::CloseHandle(thread);
      reader_ = reader;
    } else {
      delete reader;
    }
  }

 private:
  WindowsPlatform host_;
  WindowsPaths paths_;
  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  InputReader* reader_ = nullptr;
};

}  // namespace
}  // namespace kadroo::windows

std::unique_ptr<kadroo::jsonrpc::HostSystem> kadroo::jsonrpc::MakeHostSystem() {
  return std::make_unique<windows::WindowsHostSystem>();
}
