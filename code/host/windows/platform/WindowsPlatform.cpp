#include "host/windows/platform/WindowsPlatform.h"

#include "host/windows/platform/AnsiCodePage.h"
#include "host/windows/platform/MessageBoxPrompt.h"
#include "host/windows/platform/WinInetFtpClient.h"
#include "host/windows/platform/WindowsLocalFiles.h"
#include "host/windows/platform/WindowsProcesses.h"
#include "host/windows/platform/WindowsRegistry.h"

namespace kadroo::windows {

struct WindowsPlatform::Parts {
  LastError lastError;
  AnsiCodePage codePage;
  WindowsLocalFiles files{lastError, codePage};
  MessageBoxPrompt prompt;
  WinInetFtpClient ftp{lastError, codePage};
  WindowsRegistry registry;
  WindowsProcesses processes{codePage};
  Platform platform{lastError, files, prompt, codePage, ftp, registry, processes};
};

WindowsPlatform::WindowsPlatform() : parts_(std::make_unique<Parts>()) {}

WindowsPlatform::~WindowsPlatform() = default;

Platform& WindowsPlatform::platform() { return parts_->platform; }

void WindowsPlatform::SetOwnerWindow(HWND owner) { parts_->prompt.SetOwner(owner); }

void WindowsPlatform::SetBreakAwayFromJob(bool breakAway) { parts_->processes.SetBreakAwayFromJob(breakAway); }

void WindowsPlatform::SetTransferObserver(TransferObserver* observer) { parts_->ftp.SetTransferObserver(observer); }

}  // namespace kadroo::windows
