#pragma once
// Holds one control to one site's policy (safety/BridgePolicy.h) when a page reaches it through a browser: every
// target a call names is checked before the call runs, and a refused call changes nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/Platform.h"
#include "desktop/Processes.h"
#include "safety/BridgePolicy.h"

namespace kadroo {

// How a host turns a path the page names into the form the policy's entries have (absolute, "." and ".."
// resolved, links followed for the part that exists; on Windows also one letter case), or nullopt.
class PathResolver {
 public:
  virtual ~PathResolver() = default;
  virtual std::optional<std::string> ResolvePath(TextView path) = 0;      // a file or folder
  virtual std::optional<std::string> ResolveFolderOf(TextView path) = 0;  // a program: its folder resolved
};

// An argument of the scripted interface, as the control gets it.
using CallArgument = std::variant<Text, int32_t>;

// It stands in for the platform's LocalFiles and Processes (forwarding to them) to note the control's own
// temporary files and to check the program a call would start. Throws PolicyRefusal before anything is done.
class PolicyGate final : public LocalFiles, public Processes {
 public:
  PolicyGate(SitePolicy site, PathResolver& paths, LocalFiles& files, Processes& processes);
  PolicyGate(const PolicyGate&) = delete;
  PolicyGate& operator=(const PolicyGate&) = delete;

  // Before a method of the control runs, with its arguments in order. `platform` is the one the control runs
  // on: setparm is checked by a scratch control on it, which reads the parameter string as the real one will.
  void BeforeCall(std::string_view method, const std::vector<CallArgument>& args, const Platform& platform);
  void AfterCall();

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
  void CheckLocalPath(TextView path);
  void CheckRegistryKey(TextView key);
  void CheckProgram(TextView path);

  SitePolicy site_;
  PathResolver& paths_;
  LocalFiles& files_;
  Processes& processes_;
  std::vector<std::string> temporaryFiles_;  // resolved; a page may name them although they lie outside its folders
  bool checkProgram_ = false;                // while a call that starts a program runs
};

}  // namespace kadroo
