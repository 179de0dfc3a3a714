#include "host/posix/PosixHost.h"

#include "control/RuntimeError.h"
#include "desktop/Processes.h"
#include "desktop/Registry.h"
#include "ftp/FtpClient.h"
#include "host/posix/ftp/PosixFtpClient.h"

namespace kadroo::posix {
namespace {

// Placeholders until the registry and process start are wired in.
class NoRegistry final : public Registry {
 public:
  int32_t RegOpenKey(RegKey, const std::string&, RegKey&) override { return ERROR_REG_FILE_NOT_FOUND; }
  int32_t RegQueryValueEx(RegKey, const std::string&, uint32_t*, uint8_t*, uint32_t*) override {
    return ERROR_REG_FILE_NOT_FOUND;
  }
  int32_t RegEnumValue(RegKey, uint32_t, char*, uint32_t*, uint32_t*, uint8_t*, uint32_t*) override {
    return ERROR_NO_MORE_ITEMS;
  }
  int32_t RegCloseKey(RegKey) override { return ERROR_SUCCESS; }
};

class NoProcesses final : public Processes {
 public:
  int32_t PathFileExists(TextView) override { return 0; }
  void StartProcess(TextView, int32_t) override { Raise(ErrorNumber::kFileNotFound); }
};

}  // namespace

struct PosixHost::Parts {
  LastError lastError;
  LocaleCodePage codePage;
  PosixLocalFiles files{lastError, codePage};
  TerminalPrompt prompt;
  PosixFtpClient ftp{lastError, codePage, FtpTimeouts::FromEnvironment()};
  NoRegistry registry;
  NoProcesses processes;
};

PosixHost::PosixHost()
    : parts_(std::make_unique<Parts>()),
      platform_{parts_->lastError, parts_->files,    parts_->prompt,   parts_->codePage,
                parts_->ftp,       parts_->registry, parts_->processes} {}

PosixHost::~PosixHost() = default;

}  // namespace kadroo::posix
