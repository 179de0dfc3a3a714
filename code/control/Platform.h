#pragma once
// The seam between the control and the platform. The core calls only these interfaces; code/host implements
// them (WinINet, kernel32, advapi32 on Windows; sockets, POSIX files, .reg files on Linux) and tests fake them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "control/Text.h"

namespace kadroo {

class FtpClient;
class Registry;
class Processes;

// A platform handle as the control holds it: 32-bit signed, 0 none, only values above 0 are open.
using Handle = int32_t;
constexpr Handle kInvalidHandle = -1;

struct FileTime {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
  uint64_t Ticks() const { return (uint64_t{dwHighDateTime} << 32) | dwLowDateTime; }
  static FileTime FromTicks(uint64_t ticks) {
    return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  }
  friend bool operator==(const FileTime&, const FileTime&) = default;
};

// -1, 0 or 1 as the first time is earlier, equal or later.
int32_t CompareFileTime(const FileTime& first, const FileTime& second);

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// The directory record that a find fills in (WIN32_FIND_DATAA), names in the code page.
struct FindData {
  uint32_t dwFileAttributes = 0;
  FileTime ftCreationTime;
  FileTime ftLastAccessTime;
  FileTime ftLastWriteTime;
  uint32_t nFileSizeHigh = 0;
  uint32_t nFileSizeLow = 0;
  uint32_t dwReserved0 = 0;
  uint32_t dwReserved1 = 0;
  char cFileName[260] = {};
  char cAlternateFileName[14] = {};

  uint64_t FileSize() const { return (uint64_t{nFileSizeHigh} << 32) | nFileSizeLow; }
  void SetFileSize(uint64_t size) {
    nFileSizeHigh = static_cast<uint32_t>(size >> 32);
    nFileSizeLow = static_cast<uint32_t>(size);
  }
  friend bool operator==(const FindData&, const FindData&) = default;
};

// Platform error codes that the hosts leave for the control.
enum : int32_t {
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_HANDLE_EOF = 38,
  ERROR_NO_MORE_FILES = 18,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_INVALID_NAME = 123,
  ERROR_NO_UNICODE_TRANSLATION = 1113,
};

// The last platform error code, recorded by every platform call right after it returns.
struct LastError {
  int32_t code = 0;
};

// Records `error` (0 for success) as the outcome of a call a host completes itself: `result` on success, the
// empty value of its type (false, 0) on failure.
template <typename T>
T Finish(LastError& lastError, int32_t error, T result) {
  lastError.code = error;
  return error ? T{} : result;
}

// Refuses a call with a code of the host's own: records `error` and returns `failure`.
template <typename T>
T Refuse(LastError& lastError, int32_t error, T failure) {
  lastError.code = error;
  return failure;
}

// Local files, as kernel32 offers them. Paths are the page's text; the implementation converts them.
class LocalFiles {
 public:
  virtual ~LocalFiles() = default;
  // Returns false when the file could not be deleted; records the error.
  virtual bool DeleteFile(TextView path) = 0;
  // Fills `record` with the entry of `path` and returns a search handle above 0, or kInvalidHandle.
  virtual Handle FindFirstFile(TextView path, FindData& record) = 0;
  virtual void FindClose(Handle search) = 0;
  // Reads the whole file from its start, a piece at a time; false with the error recorded when it cannot be
  // opened or read.
  virtual bool ReadFile(TextView path, const std::function<void(std::string_view)>& piece) = 0;
  // The temporary directory, ending in a separator.
  virtual Text GetTempPath() = 0;
  // Creates a new empty file `dir` + prefix(3 chars) + hex + ".tmp" and returns its path; nullopt on failure.
  virtual std::optional<Text> GetTempFileName(TextView dir, TextView prefix) = 0;
  // Where the command-line FTP client's script file lives.
  virtual Text QuitScriptPath() = 0;
  // Writes `line` as the only line of a text file, replacing it. Raises a RuntimeError on failure;
  // not a platform call, so the last error is left alone.
  virtual void WriteTextFile(TextView path, TextView line) = 0;
};

// The modal message box with one OK button; returns when the user closed it.
class UserPrompt {
 public:
  virtual ~UserPrompt() = default;
  virtual void MessageBox(TextView prompt, TextView title) = 0;
};

// The system's ANSI code page, in which text reaches the platform.
class CodePage {
 public:
  virtual ~CodePage() = default;
  // nullopt when the text holds a character that the code page cannot represent.
  virtual std::optional<std::string> ToAnsi(TextView text) = 0;
  virtual Text FromAnsi(std::string_view bytes) = 0;
};

// Which texts may hold CR and LF: none that go on an FTP control connection, where they would end the command.
enum class LineBreaks { kAllowed, kRefused };

// A text for a platform call: 0 and `out` filled, or ERROR_INVALID_NAME (123) for a NUL, or for CR or LF where
// `lineBreaks` refuses them, or ERROR_NO_UNICODE_TRANSLATION (1113) for a character the code page cannot hold.
int32_t ToAnsiArgument(CodePage& codePage, TextView text, LineBreaks lineBreaks, std::string& out);
// The same, recording a refusal in `lastError`; whether the text may go to the call.
bool ToAnsiArgument(LastError& lastError, CodePage& codePage, TextView text, LineBreaks lineBreaks, std::string& out);

// Everything the control needs from its platform. The objects outlive the control.
struct Platform {
  LastError& lastError;
  LocalFiles& files;
  UserPrompt& prompt;
  CodePage& codePage;
  FtpClient& ftp;
  Registry& registry;
  Processes& processes;
};

}  // namespace kadroo
