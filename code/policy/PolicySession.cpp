#include "policy/PolicySession.h"

#include <algorithm>

#include "control/KadroOcx.h"

namespace kadroo {
namespace {

const Text& TextAt(const std::vector<CallArgument>& args, size_t i) { return std::get<Text>(args.at(i)); }

[[noreturn]] void Deny(const char* what, TextView target) { throw PolicyRefusal{what, ToUtf8Lossy(target), ""}; }

}  // namespace

PolicySession::PolicySession(const Platform& base, PathResolver& paths)
    : files_(base.files),
      processes_(base.processes),
      paths_(paths),
      platform_{base.lastError, *this, base.prompt, base.codePage, base.ftp, base.registry, *this} {}

bool PolicySession::Open(const PolicyLoad& policy, const std::string& origin) {
  const auto site = policy.policy.sites.find(origin);
  if (!policy.loaded() || site == policy.policy.sites.end()) {
    RefuseEveryCall({"origin", origin, policy.status == PolicyLoad::Status::kRefused
                                           ? "the policy in " + policy.place + " is not valid"
                                           : ""});
    return false;
  }
  mode_ = Mode::kGated;
  if (origin != origin_) temporaryFiles_.clear();
  origin_ = origin;
  site_ = site->second;
  return true;
}

void PolicySession::RefuseEveryCall(PolicyRefusal refusal) {
  mode_ = Mode::kRefused;
  refusal_ = std::move(refusal);
}

void PolicySession::BeforeCall(std::string_view method, const std::vector<CallArgument>& args) {
  if (mode_ == Mode::kOpen) return;
  if (mode_ == Mode::kRefused) throw refusal_;
  const ScriptedMethod* entry = FindScriptedMethod(method);
  if (!entry || entry->arity != args.size()) throw PolicyRefusal{"method", std::string(method), ""};
  call_ = entry;
  for (size_t i = 0; i < entry->arity; ++i) {
    switch (entry->parameters[i].target) {
      case PolicyTarget::kNone: break;
      case PolicyTarget::kLocalPathUnlessEmpty:
        if (TextAt(args, i).empty()) break;
        [[fallthrough]];
      case PolicyTarget::kLocalPath: CheckLocalPath(TextAt(args, i)); break;
      case PolicyTarget::kRegistryKey: CheckRegistryKey(TextAt(args, i)); break;
      case PolicyTarget::kParmServer: CheckParmServer(args, i); break;
      case PolicyTarget::kProgram: break;  // the one the call would start, when it is about to start
    }
  }
}

bool PolicySession::NamesProgram() const {
  if (mode_ != Mode::kGated || !call_) return false;
  for (size_t i = 0; i < call_->arity; ++i) {
    if (call_->parameters[i].target == PolicyTarget::kProgram) return true;
  }
  return false;
}

// Where the control will connect, found by the control's own reading of the parameter string.
void PolicySession::CheckParmServer(const std::vector<CallArgument>& args, size_t i) {
  Platform scratchPlatform = platform_;
  KadroOcx scratch(scratchPlatform);
  scratch.setparm(TextAt(args, i), TextAt(args, i + 1), std::get<int32_t>(args.at(i + 2)));
  const Text& server = scratch.state().sServer;
  const auto target = ConnectionTarget(server);
  if (target && !AllowsFtpServer(site_, *target)) {
    throw PolicyRefusal{"ftpServer", target->host.empty() ? ToUtf8Lossy(server) : Describe(*target), ""};
  }
}

void PolicySession::CheckLocalPath(TextView path) {
  const auto resolved = paths_.ResolvePath(path);
  if (resolved && std::find(temporaryFiles_.begin(), temporaryFiles_.end(), *resolved) != temporaryFiles_.end()) return;
  if (resolved && AllowsLocalPath(site_, *resolved)) {
    // A folder rule covers the names in the folder, not a file whose other name may lie anywhere.
    if (!paths_.HasOtherNames(path)) return;
    throw PolicyRefusal{"localFolder", ToUtf8Lossy(path), "a file with more than one name: a hard link"};
  }
  Deny("localFolder", path);
}

void PolicySession::CheckRegistryKey(TextView key) {
  if (!AllowsRegistryKey(site_, key)) Deny("registryKey", key);
}

void PolicySession::CheckProgram(TextView path) {
  const auto resolved = paths_.ResolveFolderOf(path);
  if (!resolved || !AllowsProgram(site_, *resolved)) Deny("program", path);
}

std::optional<Text> PolicySession::GetTempFileName(TextView dir, TextView prefix) {
  auto path = files_.GetTempFileName(dir, prefix);
  if (path && mode_ == Mode::kGated) {
    if (auto resolved = paths_.ResolvePath(*path)) temporaryFiles_.push_back(std::move(*resolved));
  }
  return path;
}

int32_t PolicySession::PathFileExists(TextView path) {
  if (NamesProgram()) CheckProgram(path);
  return processes_.PathFileExists(path);
}

void PolicySession::StartProcess(TextView application, TextView commandLine, int32_t showState) {
  if (NamesProgram()) CheckProgram(application);
  processes_.StartProcess(application, commandLine, showState);
}

std::string RefusalText(const PolicyRefusal& refusal) {
  std::string text = "Refused by the administrator's policy: " + refusal.refused + " " + refusal.target;
  return refusal.why.empty() ? text : text + " (" + refusal.why + ")";
}

RuntimeError RefusalError(const PolicyRefusal& refusal) {
  return RuntimeError(static_cast<int32_t>(ErrorNumber::kPermissionDenied), FromUtf8Lossy(RefusalText(refusal)));
}

}  // namespace kadroo
