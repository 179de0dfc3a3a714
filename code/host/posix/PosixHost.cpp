#include "host/posix/PosixHost.h"

#include <cstdio>

#include "control/RuntimeError.h"
#include "desktop/Processes.h"
#include "desktop/Registry.h"
#include "ftp/FtpClient.h"
#include "host/posix/process/PosixProcesses.h"
#include "host/posix/registry/FileRegistry.h"

namespace kadroo::posix {
namespace {

// Placeholders until the FTP client, the registry and process start are wired in.
class NoFtp final : public FtpClient {
 public:
  explicit NoFtp(LastError& e) : e_(e) {}
  Handle InternetOpen(TextView, uint32_t, TextView, TextView, uint32_t) override { return Fail(); }
  Handle InternetConnect(Handle, TextView, uint16_t, TextView, TextView, uint32_t, uint32_t, uintptr_t) override {
    return Fail();
  }
  bool FtpGetFile(Handle, TextView, TextView, bool, uint32_t, uint32_t, uintptr_t) override { return Fail(); }
  bool FtpPutFile(Handle, TextView, TextView, uint32_t, uintptr_t) override { return Fail(); }
  Handle FtpFindFirstFile(Handle, TextView, FindData&, uint32_t, uintptr_t) override { return Fail(); }
  bool FtpRenameFile(Handle, TextView, TextView) override { return Fail(); }
  bool FtpDeleteFile(Handle, TextView) override { return Fail(); }
  bool FtpCreateDirectory(Handle, TextView) override { return Fail(); }
  bool InternetCloseHandle(Handle) override { return Fail(); }

 private:
  int Fail() {
    e_.code = ERROR_INTERNET_INTERNAL_ERROR;
    return 0;
  }
  LastError& e_;
};

void ReportRegistryFile(const RegistryLoadError& error) {
  std::fprintf(stderr, "kadrooa: registry file not used: %s\n", Describe(error).c_str());
}

}  // namespace

struct PosixHost::Parts {
  LastError lastError;
  LocaleCodePage codePage;
  PosixLocalFiles files{lastError, codePage};
  TerminalPrompt prompt;
  NoFtp ftp{lastError};
  FileRegistry registry{codePage, FileRegistry::DefaultDirectory(), ReportRegistryFile};
  PosixProcesses processes{codePage};
};

PosixHost::PosixHost()
    : parts_(std::make_unique<Parts>()),
      platform_{parts_->lastError, parts_->files,    parts_->prompt,   parts_->codePage,
                parts_->ftp,       parts_->registry, parts_->processes} {}

PosixHost::~PosixHost() = default;

}  // namespace kadroo::posix
