#pragma once
// Local files through kernel32's ANSI entry points, and the message box.
#include "control/Platform.h"
#include "host/windows/platform/HandleTable.h"

#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

class WindowsLocalFiles final : public LocalFiles {
 public:
  // `lastError` and `codePage` must outlive this object.
  WindowsLocalFiles(LastError& lastError, CodePage& codePage) : lastError_(lastError), codePage_(codePage) {}
  bool DeleteFile(TextView path) override;
  // Search handles are numbers of this object's own for the system's find handles.
  Handle FindFirstFile(TextView path, FindData& record) override;
  void FindClose(Handle search) override;
  Text GetTempPath() override;
  std::optional<Text> GetTempFileName(TextView dir, TextView prefix) override;
  // c:\quit.txt, where the command-line client's script has always been.
  Text QuitScriptPath() override;
  // Raises 70 (access), 76 (path) or 75 (anything else) when the file cannot be written.
  void WriteTextFile(TextView path, TextView line) override;

 private:
  LastError& lastError_;
  CodePage& codePage_;
  HandleTable<unique_hfind> searches_;
};

// MessageBoxW with one OK button, owned by the window given last (none at first).
class MessageBoxPrompt final : public UserPrompt {
 public:
  void MessageBox(TextView prompt, TextView title) override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_ = nullptr;
};

// Copies the system's record into the control's, field by field.
FindData ToFindData(const WIN32_FIND_DATAA& found);

}  // namespace kadroo::windows
