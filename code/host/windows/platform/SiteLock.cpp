#include "host/windows/platform/SiteLock.h"

#include "host/windows/platform/WindowsPlatform.h"
#include "policy/PageOrigin.h"

namespace kadroo::windows {

SiteLock::SiteLock(WindowsPlatform& windows, PolicyLoad policy, PageAddress pageAddress)
    : policy_(std::move(policy)), pageAddress_(std::move(pageAddress)), session_(windows.platform(), paths_) {}

void SiteLock::SiteChanged(bool sited) {
  sited_ = sited;
  decided_ = false;
  session_.LetEverythingThrough();
}

bool SiteLock::SafeForPage() {
  askedForSafety_ = true;
  if (!sited_) return true;
  Decide();
  return !session_.refused();
}

void SiteLock::Decide() {
  if (decided_ || policy_.absent()) return;
  const std::optional<Text> address = sited_ && pageAddress_ ? pageAddress_() : std::nullopt;
  if (!address && !askedForSafety_) return;  // not in a page: looked at again at the next call
  decided_ = true;
  const std::optional<std::string> origin = address ? OriginOfUrl(ToUtf8Lossy(*address)) : std::nullopt;
  if (!address) {
    session_.RefuseEveryCall({"origin", "unknown", "the page's address cannot be found"});
  } else if (!origin && policy_.loaded()) {
    session_.RefuseEveryCall({"origin", ToUtf8Lossy(*address), "the page's address has no origin"});
  } else {
    session_.Open(policy_, origin ? *origin : ToUtf8Lossy(*address));
  }
}

void SiteLock::BeforeCall(std::string_view method, const std::vector<CallArgument>& args) {
  Decide();
  session_.BeforeCall(method, args);
}

}  // namespace kadroo::windows
