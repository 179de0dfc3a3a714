#include "safety/PolicyGate.h"

#include <algorithm>

#include "control/KadroOcx.h"

namespace kadroo {
namespace {

[[noreturn]] void Refuse(const char* what, TextView target) { throw PolicyRefusal{what, ToUtf8Lossy(target)}; }

const Text& TextAt(const std::vector<CallArgument>& args, size_t i) { return std::get<Text>(args.at(i)); }

}  // namespace

PolicyGate::PolicyGate(SitePolicy site, PathResolver& paths, LocalFiles& files, Processes& processes)
    : site_(std::move(site)), paths_(paths), files_(files), processes_(processes) {}

void PolicyGate::BeforeCall(std::string_view method, const std::vector<CallArgument>& args,
                            const Platform& platform) {
  if (method == "setparm") {
    // Where the control will connect, found by the control's own reading of the parameter string.
    Platform scratchPlatform = platform;
    KadroOcx scratch(scratchPlatform);
    scratch.setparm(TextAt(args, 0), TextAt(args, 1), std::get<int32_t>(args.at(2)));
    const Text& server = scratch.state().sServer;
    const auto target = ConnectionTarget(server);
    if (target && !AllowsFtpServer(site_, *target)) {
      throw PolicyRefusal{"ftpServer", target->host.empty() ? ToUtf8Lossy(server) : Describe(*target)};
    }
  } else if (method == "GetFileToFile") {
    CheckLocalPath(TextAt(args, 1));
  } else if (method == "PutFile") {
    if (const Text& local = TextAt(args, 0); !local.empty()) CheckLocalPath(local);
  } else if (method == "setLocalFile") {
    CheckLocalPath(TextAt(args, 0));
  } else if (method == "GetAllRegValue") {
    CheckRegistryKey(TextAt(args, 0));
  } else if (method == "OpenExefileByReg") {
    CheckRegistryKey(TextAt(args, 0));
    checkProgram_ = true;
  } else if (method == "OpenExefile") {
    checkProgram_ = true;
  }
}

void PolicyGate::AfterCall() { checkProgram_ = false; }

void PolicyGate::CheckLocalPath(TextView path) {
  const auto resolved = paths_.ResolvePath(path);
  if (resolved && (AllowsLocalPath(site_, *resolved) ||
                   std::find(temporaryFiles_.begin(), temporaryFiles_.end(), *resolved) != temporaryFiles_.end())) {
    return;
  }
  Refuse("localFolder", path);
}

void PolicyGate::CheckRegistryKey(TextView key) {
  if (!AllowsRegistryKey(site_, key)) Refuse("registryKey", key);
}

void PolicyGate::CheckProgram(TextView path) {
  const auto resolved = paths_.ResolveFolderOf(path);
  if (!resolved || !AllowsProgram(site_, *resolved)) Refuse("program", path);
}

bool PolicyGate::DeleteFile(TextView path) { return files_.DeleteFile(path); }
Handle PolicyGate::FindFirstFile(TextView path, FindData& record) { return files_.FindFirstFile(path, record); }
void PolicyGate::FindClose(Handle search) { files_.FindClose(search); }
bool PolicyGate::ReadFile(TextView path, const std::function<void(std::string_view)>& piece) {
  return files_.ReadFile(path, piece);
}
Text PolicyGate::GetTempPath() { return files_.GetTempPath(); }
Text PolicyGate::QuitScriptPath() { return files_.QuitScriptPath(); }
void PolicyGate::WriteTextFile(TextView path, TextView line) { files_.WriteTextFile(path, line); }

std::optional<Text> PolicyGate::GetTempFileName(TextView dir, TextView prefix) {
  auto path = files_.GetTempFileName(dir, prefix);
  if (path) {
    if (auto resolved = paths_.ResolvePath(*path)) temporaryFiles_.push_back(std::move(*resolved));
  }
  return path;
}

int32_t PolicyGate::PathFileExists(TextView path) {
  if (checkProgram_) CheckProgram(path);
  return processes_.PathFileExists(path);
}

void PolicyGate::StartProcess(TextView application, TextView commandLine, int32_t showState) {
  if (checkProgram_) CheckProgram(application);
  processes_.StartProcess(application, commandLine, showState);
}

}  // namespace kadroo
