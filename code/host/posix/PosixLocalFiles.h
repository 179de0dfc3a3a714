#pragma once
// Local files, the code page and the message prompt of the Linux platform: the parts of the seam that are not
// FTP, registry or processes.
#include <cstdint>
#include <string>

#include "control/HandleTable.h"
#include "control/Platform.h"

namespace kadroo::posix {

// The locale's character set (setlocale must have run); UTF-8 where the locale names none.
class LocaleCodePage final : public CodePage {
 public:
  LocaleCodePage();
  // A named character set, such as "GBK"; for tests.
  explicit LocaleCodePage(std::string charset);
  std::optional<std::string> ToAnsi(TextView text) override;
  Text FromAnsi(std::string_view bytes) override;
  const std::string& charset() const { return charset_; }

 private:
  std::string charset_;
  bool utf8_;
};

class PosixLocalFiles final : public LocalFiles {
 public:
  PosixLocalFiles(LastError& lastError, CodePage& codePage) : lastError_(lastError), codePage_(codePage) {}
  bool DeleteFile(TextView path) override;
  Handle FindFirstFile(TextView path, FindData& record) override;
  void FindClose(Handle search) override;
  bool ReadFile(TextView path, const std::function<void(std::string_view)>& piece) override;
  Text GetTempPath() override;
  std::optional<Text> GetTempFileName(TextView dir, TextView prefix) override;
  Text QuitScriptPath() override;
  void WriteTextFile(TextView path, TextView line) override;

 private:
  LastError& lastError_;
  CodePage& codePage_;
  // A search holds nothing: its record was filled in at once.
  HandleTable<bool> searches_;
};

// Converts a file time in seconds and nanoseconds since 1970 to FILETIME ticks.
FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

// Writes the prompt to standard error under the title; waits for Enter where a controlling terminal exists.
class TerminalPrompt final : public UserPrompt {
 public:
  void MessageBox(TextView prompt, TextView title) override;
};

}  // namespace kadroo::posix
