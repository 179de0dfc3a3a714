#pragma once
// One control held to the administrator's policy for the page that drives it, the same for the ActiveX control
// and for the browsers' bridge: the site is looked up by the page's origin, every target a call names is checked
// before the call runs (the scripted interface's entry for the method says which arguments name what), and a
// refused call changes nothing. The session stands in for the platform's LocalFiles and Processes, to note the
// control's own temporary files and to check the program a call would start.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/Platform.h"
#include "control/RuntimeError.h"
#include "control/ScriptedInterface.h"
#include "desktop/Processes.h"
#include "policy/BridgePolicy.h"
#include "policy/PolicyDocument.h"

namespace kadroo {

// An argument of the scripted interface, as the control gets it.
using CallArgument = std::variant<Text, int32_t>;

class PolicySession final : public LocalFiles, public Processes {
 public:
  // `base` is the platform the control would run on without a policy, `paths` how the host compares paths.
  PolicySession(const Platform& base, PathResolver& paths);
  PolicySession(const PolicySession&) = delete;
  PolicySession& operator=(const PolicySession&) = delete;

  // What the control runs on: `base` with its files and processes through this session. Until Open or
  // RefuseEveryCall it lets everything through.
  Platform& platform() { return platform_; }

  // Holds the control to the site `origin` lists in `policy`; false when it lists none (or is not valid): then
  // every call is refused with refusal(). The same origin again keeps the temporary files the control made.
  bool Open(const PolicyLoad& policy, const std::string& origin);
  void RefuseEveryCall(PolicyRefusal refusal);
  // Back to letting everything through (the control is not in a page).
  void LetEverythingThrough() { mode_ = Mode::kOpen; }
  bool refused() const { return mode_ == Mode::kRefused; }
  const PolicyRefusal& refusal() const { return refusal_; }

  // Before a method of the control runs, with its arguments in order: raises PolicyRefusal for a target its
  // entry in the scripted interface names that the site may not use, and for a method the interface does not
  // know. A parameter string's server is found by a scratch control, which reads it as the real one will.
  void BeforeCall(std::string_view method, const std::vector<CallArgument>& args);
  void AfterCall() { call_ = nullptr; }

  bool DeleteFile(TextView path) override { return files_.DeleteFile(path); }
  Handle FindFirstFile(TextView path, FindData& record) override { return files_.FindFirstFile(path, record); }
  void FindClose(Handle search) override { files_.FindClose(search); }
  Text GetTempPath() override { return files_.GetTempPath(); }
  std::optional<Text> GetTempFileName(TextView dir, TextView prefix) override;
  Text QuitScriptPath() override { return files_.QuitScriptPath(); }
  void WriteTextFile(TextView path, TextView line) override { files_.WriteTextFile(path, line); }
  int32_t PathFileExists(TextView path) override;
  void StartProcess(TextView application, TextView commandLine, int32_t showState) override;

 private:
  enum class Mode { kOpen, kRefused, kGated };
  bool NamesProgram() const;
  void CheckParmServer(const std::vector<CallArgument>& args, size_t i);
  void CheckLocalPath(TextView path);
  void CheckRegistryKey(TextView key);
  void CheckProgram(TextView path);

  LocalFiles& files_;
  Processes& processes_;
  PathResolver& paths_;
  Platform platform_;
  Mode mode_ = Mode::kOpen;
  PolicyRefusal refusal_;
  std::string origin_;
  SitePolicy site_;
  std::vector<std::string> temporaryFiles_;  // resolved; a page may name them although they lie outside its folders
  const ScriptedMethod* call_ = nullptr;     // the method that runs
};

// "Refused by the administrator's policy: KIND TARGET", and " (WHY)" when the refusal says why: the words a page
// reads, from the bridge and (as run-time error 70) from the ActiveX control alike.
std::string RefusalText(const PolicyRefusal& refusal);
RuntimeError RefusalError(const PolicyRefusal& refusal);

}  // namespace kadroo
