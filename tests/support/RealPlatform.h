#pragma once
// The Linux platform with real files and the real FTP client, but prompts, processes and the registry faked so
// that a test sees exactly which prompts were shown and which programs were started. Temporary files go to a
// directory of the test's own.
#include <stdlib.h>

#include <chrono>

#include "host/posix/PosixLocalFiles.h"
#include "host/posix/ftp/PosixFtpClient.h"
#include "support/FakePlatform.h"
#include "support/TempDir.h"

namespace kadroo::testing {

struct RealPlatform {
  explicit RealPlatform(std::chrono::milliseconds timeout = std::chrono::seconds(10))
      : ftp(lastError, codePage, posix::FtpTimeouts{timeout, timeout, timeout}) {
    ::setenv("TMPDIR", temp.path().c_str(), 1);
  }
  ~RealPlatform() { ::unsetenv("TMPDIR"); }

  TempDir temp{"kadroo-cycle"};
  LastError lastError;
  posix::LocaleCodePage codePage{"UTF-8"};
  posix::PosixLocalFiles files{lastError, codePage};
  FakePrompt prompt;
  posix::PosixFtpClient ftp;
  FakeRegistry registry;
  FakeProcesses processes;
  Platform platform{lastError, files, prompt, codePage, ftp, registry, processes};
};

// Moves a file's last-write time on, as an editor that saved it would.
inline void Touch(const std::filesystem::path& path) {
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
}

}  // namespace kadroo::testing
