#include "safety/PolicyGate.h"

#include <algorithm>

#include "control/KadroOcx.h"
#include "control/ScriptedInterface.h"

namespace kadroo {
namespace {

[[noreturn]] void Refuse(const char* what, TextView target) { throw PolicyRefusal{what, ToUtf8Lossy(target)}; }

const Text& TextAt(const std::vector<CallArgument>& args, size_t i) { return std::get<Text>(args.at(i)); }

}  // namespace

PolicyGate::PolicyGate(SitePolicy site, PathResolver& paths, LocalFiles& files, Processes& processes)
    : site_(std::move(site)), paths_(paths), files_(files), processes_(processes) {}

void PolicyGate::BeforeCall(std::string_view method, const std::vector<CallArgument>& args,
                            const Platform& platform) {
  const ScriptedMethod* entry = FindScriptedMethod(method);
  if (!entry || entry->arity != args.size()) throw PolicyRefusal{"method", std::string(method)};
  call_ = entry;
  for (size_t i = 0; i < entry->arity; ++i) {
    switch (entry->parameters[i].target) {
      case PolicyTarget::kNone: break;
      case PolicyTarget::kLocalPathUnlessEmpty:
        if (TextAt(args, i).empty()) break;
        [[fallthrough]];
      case PolicyTarget::kLocalPath: CheckLocalPath(TextAt(args, i)); break;
      case PolicyTarget::kRegistryKey: CheckRegistryKey(TextAt(args, i)); break;
      case PolicyTarget::kParmServer: CheckParmServer(args, i, platform); break;
      case PolicyTarget::kProgram: break;  // the one the call would start, when it is about to start
    }
  }
}

void PolicyGate::AfterCall() { call_ = nullptr; }

// Where the control will connect, found by the control's own reading of the parameter string.
void PolicyGate::CheckParmServer(const std::vector<CallArgument>& args, size_t i, const Platform& platform) {
  Platform scratchPlatform = platform;
  KadroOcx scratch(scratchPlatform);
  scratch.setparm(TextAt(args, i), TextAt(args, i + 1), std::get<int32_t>(args.at(i + 2)));
  const Text& server = scratch.state().sServer;
  const auto target = ConnectionTarget(server);
  if (target && !AllowsFtpServer(site_, *target)) {
    throw PolicyRefusal{"ftpServer", target->host.empty() ? ToUtf8Lossy(server) : Describe(*target)};
  }
}

bool PolicyGate::NamesProgram() const {
  if (!call_) return false;
  for (size_t i = 0; i < call_->arity; ++i) {
    if (call_->parameters[i].target == PolicyTarget::kProgram) return true;
  }
  return false;
}

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
  if (NamesProgram()) CheckProgram(path);
  return processes_.PathFileExists(path);
}

void PolicyGate::StartProcess(TextView application, TextView commandLine, int32_t showState) {
  if (NamesProgram()) CheckProgram(application);
  processes_.StartProcess(application, commandLine, showState);
}

}  // namespace kadroo
