#pragma once
// The platform the ActiveX control runs on, under the administrator's policy for pages (RegistryPolicy.h).
//
// Without a policy it is the Windows platform as it always was. With one, the control is in a page once its
// container asks it to be safe for scripting or initialisation (browsers ask, desktop programs and script hosts
// never do) or once its site gives a page's address; until then (cscript, a desktop program, which run with the
// user's rights anyway) it works as before. In a page, the page's address decides: a page of a listed site works
// through a PolicyGate that holds it to its servers, programs, keys and folders; any other page, a page whose
// address cannot be found, and every page under a policy that is not valid are refused: every method raises
// run-time error 70 naming the site, and the control tells the container that it is not safe.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/Platform.h"
#include "control/RuntimeError.h"
#include "desktop/Processes.h"
#include "host/windows/platform/RegistryPolicy.h"
#include "safety/PolicyGate.h"

namespace kadroo::windows {

class WindowsPlatform;

class SiteLock final : public LocalFiles, public Processes {
 public:
  using Argument = std::variant<Text, int32_t>;
  // The address of the page that holds the control, as its site gives it; nullopt when the site gives none.
  using PageAddress = std::function<std::optional<Text>()>;

  SiteLock(WindowsPlatform& windows, RegistryPolicy policy, PageAddress pageAddress);
  SiteLock(const SiteLock&) = delete;
  SiteLock& operator=(const SiteLock&) = delete;

  // What the control runs on; lives as long as this object.
  Platform& platform() { return platform_; }
  // Whether the registry holds a policy, valid or not.
  bool HasPolicy() const { return !policy_.absent(); }

  // The container gave the control a site or took it away; `sited` tells whether the control has one now (a
  // client site, or the site script's `new ActiveXObject` gives). The page is looked up again at the next check.
  void SiteChanged(bool sited);
  // For IObjectSafety::SetInterfaceSafetyOptions: false when the page is refused. Asking puts the control in a
  // page; asked before it has a site, as a browser asks for script's `new ActiveXObject`, the answer waits for
  // the site: the methods check the page.
  bool SafeForPage();
  // Before each scripted method, with its arguments as the control gets them: raises the RuntimeError that
  // refuses the call before anything is done.
  void BeforeCall(std::string_view method, const std::vector<Argument>& args);
  void AfterCall();

  // LocalFiles and Processes: the Windows platform's, through the gate while a listed page holds the control.
  bool DeleteFile(TextView path) override;
  Handle FindFirstFile(TextView path, FindData& record) override;
  void FindClose(Handle search) override;
  bool ReadFile(TextView path, const std::function<void(std::string_view)>& piece) override;
  Text GetTempPath() override;
  std::optional<Text> GetTempFileName(TextView dir, TextView prefix) override;
  Text QuitScriptPath() override;
  void WriteTextFile(TextView path, TextView line) override;
  int32_t PathFileExists(TextView path) override;
  void StartProcess(TextView application, TextView commandLine, int32_t showState) override;

 private:
  enum class State { kUndecided, kAsToday, kRefused, kGated };
  void Decide();
  LocalFiles& files();
  Processes& processes();

  Platform& windows_;
  RegistryPolicy policy_;
  PageAddress pageAddress_;
  WindowsPaths paths_;
  Platform platform_;
  bool askedForSafety_ = false;
  bool sited_ = false;
  State state_ = State::kUndecided;
  std::optional<RuntimeError> refusal_;
  std::string origin_;
  std::optional<PolicyGate> gate_;
};

}  // namespace kadroo::windows
