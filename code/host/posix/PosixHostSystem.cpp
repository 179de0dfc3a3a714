// kadrooa on Linux: the policy from a file only root may change, the browser's streams on descriptors 0 and 1.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/jsonrpc/HostSystem.h"
#include "host/posix/AdminFiles.h"
#include "host/posix/PosixLocalFiles.h"
#include "host/posix/PosixPaths.h"
#include "host/posix/PosixPlatform.h"
#include "host/posix/ftp/PosixFtpClient.h"
#include "policy/PolicyDocument.h"

namespace kadroo::posix {
namespace {

using nlohmann::json;

// Where the kadrooa package puts what the browsers read.
constexpr char kShare[] = "/usr/share/kadrooa";
constexpr char kHostName[] = "org.kadrooa.host";

// The JSON file at `path`: null when it does not exist or is not JSON.
json ReadJson(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return nullptr;
  std::stringstream text;
  text << file.rdbuf();
  json value = json::parse(text.str(), nullptr, false);
  return value.is_discarded() ? json() : value;
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

json Installation() {
  json problems = json::array();
  const json ids = ReadJson(std::string(kShare) + "/extension/ids.json");
  const json library = ReadJson(std::string(kShare) + "/lib/package.json");
  json versions = {{"extension", ids.is_object() ? ids.value("version", json()) : json()},
                   {"kadroo.js", library.is_object() ? library.value("version", json()) : json()}};
  if (!ids.is_object()) problems.push_back("the extension is not installed (no " + std::string(kShare) +
                                           "/extension/ids.json): install the kadrooa package");
  const std::string chromiumId = ids.is_object() ? ids.value("chromium", "") : "";
  const std::string geckoId = ids.is_object() ? ids.value("firefox", "") : "";

  struct Browser {
    const char* name;
    std::string manifests;  // folder of host manifests
    std::string policy;     // the policy file the package writes
  };
  const Browser browsers[] = {
      {"Chromium", "/etc/chromium/native-messaging-hosts", "/etc/chromium/policies/managed/kadrooa.json"},
      {"Google Chrome", "/etc/opt/chrome/native-messaging-hosts", "/etc/opt/chrome/policies/managed/kadrooa.json"},
      {"Microsoft Edge", "/etc/opt/edge/native-messaging-hosts", "/etc/opt/edge/policies/managed/kadrooa.json"},
      {"Firefox", "/usr/lib/mozilla/native-messaging-hosts", "/etc/firefox/policies/policies.json"},
  };
  json found = json::array();
  for (const auto& browser : browsers) {
    const bool firefox = std::strcmp(browser.name, "Firefox") == 0;
    const std::string path = browser.manifests + "/" + kHostName + ".json";
    const json manifest = ReadJson(path);
    json entry = {{"browser", browser.name}, {"manifest", path}, {"found", manifest.is_object()}};
    const std::string id = firefox ? geckoId : "chrome-extension://" + chromiumId + "/";
    if (manifest.is_object()) {
      const std::string host = manifest.value("path", "");
      entry["host"] = host;
      entry["hostFound"] = !host.empty() && ::access(host.c_str(), X_OK) == 0;
      entry["allows"] = manifest.value(firefox ? "allowed_extensions" : "allowed_origins", json::array());
      if (!entry["hostFound"].get<bool>()) problems.push_back(std::string(browser.name) + ": the host manifest " +
                                                              path + " names " + host + ", which cannot be run");
      const json& allows = entry["allows"];
      if (ids.is_object() && std::find(allows.begin(), allows.end(), json(id)) == allows.end()) {
        problems.push_back(std::string(browser.name) + ": the host manifest does not allow the installed extension " +
                           id);
      }
    } else {
      problems.push_back(std::string(browser.name) + ": no host manifest " + path);
    }
    const json policy = ReadJson(browser.policy);
    json settings = json();
    if (policy.is_object()) {
      const json& holder = firefox ? policy.value("policies", json::object()) : policy;
      const std::string key = firefox ? geckoId : chromiumId;
      const json all = holder.is_object() ? holder.value("ExtensionSettings", json::object()) : json();
      if (all.is_object() && all.contains(key)) settings = all[key];
    }
    entry["extensionPolicy"] = {{"where", browser.policy}, {"entry", settings}};
    if (ids.is_object() && settings.value("installation_mode", "") != "force_installed") {
      problems.push_back(std::string(browser.name) + ": no policy in " + browser.policy +
                         " installs the extension (run kadrooa-apply-policy)");
    }
    if (firefox) {
      const bool unsigned_ = Exists("/etc/firefox-esr/kadrooa-unsigned-addons.js");
      entry["extensionPolicy"]["signed"] = ids.is_object() && ids.value("signed", false);
      entry["extensionPolicy"]["unsignedAllowed"] = unsigned_;
      if (ids.is_object() && !ids.value("signed", false) && !unsigned_ && Exists("/etc/firefox-esr")) {
        problems.push_back("Firefox: the add-on is not signed by Mozilla and Firefox ESR refuses it until the "
                           "administrator allows unsigned add-ons (kadrooa-apply-policy --firefox-unsigned on)");
      }
    }
    found.push_back(entry);
  }
  return {{"versions", versions}, {"browsers", found}, {"problems", problems}};
}

class PosixHostSystem final : public jsonrpc::HostSystem {
 public:
  Platform& platform() override { return host_.platform(); }
  PathResolver& paths() override { return paths_; }
  // $KADROOA_POLICY_FILE, else /etc/kadrooa/policy.json, read only when root alone may change it.
  PolicyLoad LoadPolicy() override {
    const char* set = std::getenv("KADROOA_POLICY_FILE");
    const std::string path = set && *set ? set : "/etc/kadrooa/policy.json";
    std::string problem;
    const auto text = ReadRootOwnedFile(path, problem);
    if (!text) {
      return problem.empty() ? PolicyLoad{PolicyLoad::Status::kAbsent, {}, "", path} : RefusedPolicy(path, problem);
    }
    // The file's own encoding, whatever the locale: entries keep the bytes the administrator wrote.
    LocaleCodePage utf8("UTF-8");
    PosixPaths paths(utf8);
    return ParsePolicy(*text, HomeDirectory(), paths, path);
  }
  json DescribeInstallation() override { return Installation(); }
  void ObserveTransfers(TransferObserver* observer) override { host_.ftp().SetTransferObserver(observer); }

  bool TakeBrowserStreams() override {
    ::signal(SIGPIPE, SIG_IGN);
    out_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool moved = out_ >= 0 && (::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0 || ::dup2(null, STDOUT_FILENO) >= 0);
    if (null >= 0) ::close(null);
    return moved;
  }

  size_t ReadInput(char* buffer, size_t size) override {
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, size);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<size_t>(n) : 0;
    }
  }

  bool WriteOutput(std::string_view bytes) override {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(out_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  void WatchInputEnd(std::function<void()> ended) override {
    std::thread([ended = std::move(ended)] {
      pollfd watched{STDIN_FILENO, 0, 0};  // no events asked: poll returns on hang-up or error alone
      while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
      }
      ended();
    }).detach();
  }

 private:
  PosixPlatform host_;
  PosixPaths paths_{host_.platform().codePage};
  int out_ = -1;
};

}  // namespace
}  // namespace kadroo::posix

std::unique_ptr<kadroo::jsonrpc::HostSystem> kadroo::jsonrpc::MakeHostSystem() {
  return std::make_unique<posix::PosixHostSystem>();
}
