#pragma once
// The ActiveX control under the administrator's policy for pages (RegistryPolicy.h).
//
// Without a policy it is the Windows platform as it always was. With one, the control is in a page once its
// container asks it to be safe for scripting or initialisation (browsers ask, desktop programs and script hosts
// never do) or once its site gives a page's address; until then (cscript, a desktop program, which run with the
// user's rights anyway) it works as before. In a page, the page's address decides: a page of a listed site is
// held to its servers, programs, keys and folders by the policy's session; any other page, a page whose address
// cannot be found, and every page under a policy that is not valid are refused: every method raises run-time
// error 70 naming the site, and the control tells the container that it is not safe.
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "host/windows/platform/RegistryPolicy.h"
#include "policy/PolicySession.h"

namespace kadroo::windows {

class WindowsPlatform;

class SiteLock {
 public:
  // The address of the page that holds the control, as its site gives it; nullopt when the site gives none.
  using PageAddress = std::function<std::optional<Text>()>;

  SiteLock(WindowsPlatform& windows, PolicyLoad policy, PageAddress pageAddress);

  // What the control runs on; lives as long as this object.
  Platform& platform() { return session_.platform(); }
  // Whether the registry holds a policy, valid or not.
  bool HasPolicy() const { return !policy_.absent(); }

  // The container gave the control a site or took it away; `sited` tells whether the control has one now (a
  // client site, or the site script's `new ActiveXObject` gives). The page is looked up again at the next check.
  void SiteChanged(bool sited);
  // For IObjectSafety::SetInterfaceSafetyOptions: false when the page is refused. Asking puts the control in a
  // page; asked before it has a site, as a browser asks for script's `new ActiveXObject`, the answer waits for
  // the site: the methods check the page.
  bool SafeForPage();
  // Before each scripted method, with its arguments as the control gets them: raises the PolicyRefusal that
  // refuses the call before anything is done.
  void BeforeCall(std::string_view method, const std::vector<CallArgument>& args);
  void AfterCall() { session_.AfterCall(); }

 private:
  void Decide();

  PolicyLoad policy_;
  PageAddress pageAddress_;
  WindowsPaths paths_;
  PolicySession session_;
  bool askedForSafety_ = false;
  bool sited_ = false;
  bool decided_ = false;
};

}  // namespace kadroo::windows
