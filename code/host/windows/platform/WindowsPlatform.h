#pragma once
// The Windows platform behind the control: WinINet, kernel32, advapi32, shlwapi and user32 through their ANSI
// entry points, text in the system's ANSI code page. It needs no Windows header, so that it may come before
// the control's headers: <windows.h> defines names of theirs as macros (ERROR_FILE_NOT_FOUND, REG_SZ,
// FILE_ATTRIBUTE_DIRECTORY, DeleteFile...), and must follow them.
#include <memory>

#include "control/Platform.h"

// As windows.h declares it (STRICT, MinGW's and the SDK's default).
struct HWND__;
typedef HWND__* HWND;

namespace kadroo {
class TransferObserver;
}

namespace kadroo::windows {

class WindowsPlatform {
 public:
  WindowsPlatform();
  ~WindowsPlatform();
  WindowsPlatform(const WindowsPlatform&) = delete;
  WindowsPlatform& operator=(const WindowsPlatform&) = delete;

  // Lives as long as this object.
  kadroo::Platform& platform();
  // Makes the message boxes owned (and modal to) `owner`; nullptr shows them owned by no window.
  void SetOwnerWindow(HWND owner);
  // For a native messaging host: the programs started leave the browser's job (WindowsProcesses), and downloads
  // tell `observer` how they advance (nullptr: nobody).
  void SetBreakAwayFromJob(bool breakAway);
  void SetTransferObserver(TransferObserver* observer);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace kadroo::windows
