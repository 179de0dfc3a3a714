#pragma once
// Local files through kernel32's ANSI entry points.
#include "control/Platform.h"
#include "control/HandleTable.h"

#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

class WindowsLocalFiles final : public LocalFiles {
 public:
  // `lastError` and `codePage` must outlive this object.
  WindowsLocalFiles(LastError& lastError, CodePage& codePage) : lastError_(lastError), codePage_(codePage) {}
  bool DeleteFile(TextView path) override;
  // Search handles are numbers of this object's own for the system's find handles. A path with a wildcard is
  // refused (123): the control wants the record of the file it names.
  Handle FindFirstFile(TextView path, FindData& record) override;
  void FindClose(Handle search) override;
  bool ReadFile(TextView path, const std::function<void(std::string_view)>& piece) override;
  Text GetTempPath() override;
  std::optional<Text> GetTempFileName(TextView dir, TextView prefix) override;
  // c:\quit.txt, where the command-line client's script has always been.
  Text QuitScriptPath() override;
  // Writes a plain file only: a planted link is replaced, never followed. Raises 70 (access, not a plain
  // file), 76 (path) or 75 (anything else) when the file cannot be written.
  void WriteTextFile(TextView path, TextView line) override;

 private:
  LastError& lastError_;
  CodePage& codePage_;
  HandleTable<unique_hfind> searches_;
};

}  // namespace kadroo::windows
