#include "host/windows/platform/WindowsPlatform.h"

#include "host/windows/platform/AnsiCodePage.h"
#include "host/windows/platform/MessageBoxPrompt.h"
#include "host/windows/platform/RegistryPolicy.h"
#include "host/windows/platform/WindowsFtpClient.h"
#include "host/windows/platform/WindowsLocalFiles.h"
#include "host/windows/platform/WindowsProcesses.h"
#include "host/windows/platform/WindowsRegistry.h"

#include <cstdio>
#include <string>

namespace kadroo::windows {
namespace {

// The administrator's FTP over TLS settings as this control or host starts; a setting that cannot be used is
// reported where a debugger or the browser's log of a native host sees it, and requires TLS of every server.
FtpTlsSettings LoadFtpTls() {
  std::string problem;
  FtpTlsSettings settings = LoadRegistryFtpTls(problem);
  if (!problem.empty()) {
    const std::string note = "KadroOA: " + problem + "; every FTP server must offer TLS until it is mended\n";
    ::OutputDebugStringA(note.c_str());
    std::fputs(note.c_str(), stderr);
  }
  return settings;
}

}  // namespace

struct WindowsPlatform::Parts {
  LastError lastError;
  AnsiCodePage codePage;
  WindowsLocalFiles files{lastError, codePage};
  MessageBoxPrompt prompt;
  WindowsFtpClient ftp{lastError, codePage, LoadFtpTls()};
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
