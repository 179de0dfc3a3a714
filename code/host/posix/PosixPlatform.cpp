#include "host/posix/PosixPlatform.h"

#include <cstdio>

#include "host/posix/ftp/PosixFtpClient.h"
#include "host/posix/process/PosixProcesses.h"
#include "host/posix/registry/FileRegistry.h"

namespace kadroo::posix {
namespace {

void ReportRegistryFile(const RegistryLoadError& error) {
  std::fprintf(stderr, "kadrooa: registry file not used: %s\n", Describe(error).c_str());
}

}  // namespace

struct PosixPlatform::Parts {
  LastError lastError;
  LocaleCodePage codePage;
  PosixLocalFiles files{lastError, codePage};
  TerminalPrompt prompt;
  PosixFtpClient ftp{lastError, codePage, FtpTimeouts::FromEnvironment()};
  FileRegistry registry{codePage, FileRegistry::DefaultDirectory(), ReportRegistryFile};
  PosixProcesses processes{codePage};
};

PosixPlatform::PosixPlatform()
    : parts_(std::make_unique<Parts>()),
      platform_{parts_->lastError, parts_->files,    parts_->prompt,   parts_->codePage,
                parts_->ftp,       parts_->registry, parts_->processes} {}

PosixPlatform::~PosixPlatform() = default;

PosixFtpClient& PosixPlatform::ftp() { return parts_->ftp; }

}  // namespace kadroo::posix
