#include "host/windows/platform/SiteLock.h"

#include "host/windows/platform/WindowsPlatform.h"
#include "safety/PageOrigin.h"

namespace kadroo::windows {
namespace {

constexpr int32_t kPermissionDenied = static_cast<int32_t>(ErrorNumber::kPermissionDenied);

// In the words the browser bridge uses for the same refusal, so that a page can tell them apart from the
// control's own errors: "Refused by the administrator's policy: KIND TARGET".
RuntimeError Refusal(std::string_view kind, const std::string& target, std::string_view why = {}) {
  std::string text = "Refused by the administrator's policy: " + std::string(kind) + " " + target;
  if (!why.empty()) text += " (" + std::string(why) + ")";
  return RuntimeError(kPermissionDenied, FromUtf8Lossy(text));
}

// Runs a step of the gate; its refusal reaches the script as the run-time error.
template <typename Step>
auto AsRuntimeError(Step&& step) {
  try {
    return step();
  } catch (const PolicyRefusal& refused) {
    throw Refusal(refused.refused, refused.target);
  }
}

}  // namespace

SiteLock::SiteLock(WindowsPlatform& windows, RegistryPolicy policy, PageAddress pageAddress)
    : windows_(windows.platform()),
      policy_(std::move(policy)),
      pageAddress_(std::move(pageAddress)),
      platform_{windows_.lastError, *this,           windows_.prompt, windows_.codePage,
                windows_.ftp,       windows_.registry, *this} {}

void SiteLock::SiteChanged(bool sited) {
  sited_ = sited;
  state_ = State::kUndecided;
}

bool SiteLock::SafeForPage() {
  askedForSafety_ = true;
  if (!sited_) return true;
  Decide();
  return state_ != State::kRefused;
}

void SiteLock::Decide() {
  if (state_ != State::kUndecided) return;
  if (policy_.absent()) {
    state_ = State::kAsToday;
    return;
  }
  const std::optional<Text> address = sited_ && pageAddress_ ? pageAddress_() : std::nullopt;
  if (!address && !askedForSafety_) return;  // not in a page: looked at again at the next call

  const std::optional<std::string> origin = address ? OriginOfUrl(ToUtf8Lossy(*address)) : std::nullopt;
  std::string named = origin ? *origin : address ? ToUtf8Lossy(*address) : std::string();
  state_ = State::kRefused;
  if (!address) {
    refusal_ = Refusal("origin", "unknown", "the page's address cannot be found");
  } else if (!policy_.loaded()) {
    refusal_ = Refusal("origin", named, "the policy in HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\KadroOA is not valid");
  } else if (!origin) {
    refusal_ = Refusal("origin", named, "the page's address has no origin");
  } else if (const auto site = policy_.policy.sites.find(*origin); site == policy_.policy.sites.end()) {
    refusal_ = Refusal("origin", named);
  } else {
    state_ = State::kGated;
    refusal_.reset();
    // The same page again keeps its gate, and with it the temporary files the control made.
    if (!gate_ || origin_ != *origin) {
      origin_ = *origin;
      gate_.emplace(site->second, paths_, windows_.files, windows_.processes);
    }
  }
}

void SiteLock::BeforeCall(std::string_view method, const std::vector<Argument>& args) {
  Decide();
  if (state_ == State::kRefused) throw *refusal_;
  if (state_ == State::kGated) AsRuntimeError([&] { gate_->BeforeCall(method, args, platform_); });
}

void SiteLock::AfterCall() {
  if (state_ == State::kGated) gate_->AfterCall();
}

LocalFiles& SiteLock::files() {
  if (state_ == State::kGated) return *gate_;
  return windows_.files;
}

Processes& SiteLock::processes() {
  if (state_ == State::kGated) return *gate_;
  return windows_.processes;
}

bool SiteLock::DeleteFile(TextView path) { return files().DeleteFile(path); }
Handle SiteLock::FindFirstFile(TextView path, FindData& record) { return files().FindFirstFile(path, record); }
void SiteLock::FindClose(Handle search) { files().FindClose(search); }
bool SiteLock::ReadFile(TextView path, const std::function<void(std::string_view)>& piece) {
  return files().ReadFile(path, piece);
}
Text SiteLock::GetTempPath() { return files().GetTempPath(); }
std::optional<Text> SiteLock::GetTempFileName(TextView dir, TextView prefix) {
  return files().GetTempFileName(dir, prefix);
}
Text SiteLock::QuitScriptPath() { return files().QuitScriptPath(); }
void SiteLock::WriteTextFile(TextView path, TextView line) { files().WriteTextFile(path, line); }
// The gate checks the program that a call would start here, while the call runs.
int32_t SiteLock::PathFileExists(TextView path) {
  return AsRuntimeError([&] { return processes().PathFileExists(path); });
}
void SiteLock::StartProcess(TextView application, TextView commandLine, int32_t showState) {
  AsRuntimeError([&] { processes().StartProcess(application, commandLine, showState); });
}

}  // namespace kadroo::windows
