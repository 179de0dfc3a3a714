#include "host/jsonrpc/Diagnosis.h"

#include <cstdio>
#include <cstring>

#include "host/jsonrpc/NativeHost.h"

namespace kadroo::jsonrpc {
namespace {

using nlohmann::json;

json Strings(const std::vector<std::string>& values) { return json(values); }

json SiteAllowances(const SitePolicy& site) {
  json servers = json::array(), keys = json::array();
  for (const auto& server : site.ftpServers) servers.push_back(Describe(server));
  for (const auto& key : site.registryKeys) keys.push_back(ToUtf8Lossy(key));
  return {{"ftpServers", servers}, {"programs", Strings(site.programs)}, {"registryKeys", keys},
          {"localFolders", Strings(site.localFolders)}};
}

std::string Text(const json& value, const char* otherwise = "-") {
  return value.is_string() ? value.get<std::string>() : otherwise;
}

void Line(std::string& out, const std::string& text) { out += text + "\n"; }

}  // namespace

json Diagnose(HostSystem& system, const std::string& version, const std::optional<std::string>& origin) {
  json installation = system.DescribeInstallation();
  json problems = installation.value("problems", json::array());
  json versions = {{"kadrooa", version},
                   {"protocol", std::to_string(kBridgeProtocol) + "." + std::to_string(kBridgeProtocolMinor)}};
  const json parts = installation.value("versions", json::object());
  for (const auto& [part, value] : parts.items()) versions[part] = value;

  const PolicyLoad load = system.LoadPolicy();
  const BridgePolicy* policy = load.loaded() ? &load.policy : nullptr;
  json state = {{"source", load.place}, {"origins", json::array()}};
  if (load.loaded()) {
    state["state"] = "loaded";
    for (const auto& [listed, site] : policy->sites) state["origins"].push_back(listed);
    if (policy->sites.empty()) problems.push_back("the policy lists no site");
  } else if (load.absent()) {
    state["state"] = "absent";
    problems.push_back("there is no policy: no site is allowed");
  } else {
    state["state"] = "refused";
    state["reason"] = load.problem;
    problems.push_back("the policy is refused, so every site is: " + load.problem);
  }

  json diagnosis = {{"versions", versions}, {"browsers", installation.value("browsers", json::array())},
                    {"policy", state}};
  if (origin) {
    const std::string named = AsciiLower(*origin);
    const auto site = policy ? policy->sites.find(named) : decltype(policy->sites.end()){};
    const bool listed = policy && site != policy->sites.end();
    json report = {{"origin", named}, {"listed", listed}};
    if (listed) report.update(SiteAllowances(site->second));
    else problems.push_back(named + " is not listed in the policy: its pages get nothing");
    diagnosis["site"] = report;
  }
  diagnosis["problems"] = problems;
  return diagnosis;
}

std::string DescribeDiagnosis(const json& d) {
  std::string out;
  Line(out, "Versions");
  for (const auto& [part, value] : d["versions"].items()) Line(out, "  " + part + ": " + Text(value, "not found"));
  Line(out, "Browsers");
  for (const auto& browser : d["browsers"]) {
    Line(out, "  " + Text(browser["browser"]) + ":");
    Line(out, "    host manifest " + Text(browser["manifest"]) +
                  (browser.value("found", false) ? "" : " (not found)"));
    if (browser.value("found", false)) {
      Line(out, "    points to " + Text(browser["host"]) + (browser.value("hostFound", false) ? "" : " (missing)"));
      for (const auto& allowed : browser.value("allows", json::array())) Line(out, "    allows " + Text(allowed));
    }
    const json policy = browser.value("extensionPolicy", json::object());
    if (policy.is_object() && policy.contains("where")) {
      Line(out, "    extension policy in " + Text(policy["where"]) + ": " +
                    (policy.value("entry", json()).is_null() ? std::string("none") : policy["entry"].dump()));
    }
  }
  const json& policy = d["policy"];
  Line(out, "Policy " + Text(policy["source"]) + ": " + Text(policy["state"]) +
                (policy.contains("reason") ? " (" + Text(policy["reason"]) + ")" : ""));
  for (const auto& origin : policy["origins"]) Line(out, "  lists " + Text(origin));
  if (d.contains("site")) {
    const json& site = d["site"];
    Line(out, "Site " + Text(site["origin"]) + (site["listed"].get<bool>() ? ": listed" : ": not listed"));
    for (const char* what : {"ftpServers", "programs", "registryKeys", "localFolders"}) {
      if (!site.contains(what)) continue;
      std::string items;
      for (const auto& item : site[what]) items += (items.empty() ? "" : ", ") + Text(item);
      Line(out, std::string("  ") + what + ": " + (items.empty() ? "none" : items));
    }
  }
  if (d["problems"].empty()) {
    Line(out, "Nothing is missing.");
  } else {
    Line(out, "Problems");
    for (const auto& problem : d["problems"]) Line(out, "  - " + Text(problem));
  }
  return out;
}

int RunDiagnosis(HostSystem& system, const std::string& version, int argc, char** argv) {
  bool asJson = false;
  std::optional<std::string> origin;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      asJson = true;
    } else if (!origin && argv[i][0] != '-') {
      origin = argv[i];
    } else {
      std::fprintf(stderr, "usage: kadrooa --diagnose [--json] [ORIGIN]\n");
      return 2;
    }
  }
  const json diagnosis = Diagnose(system, version, origin);
  const std::string text = asJson ? diagnosis.dump(2) + "\n" : DescribeDiagnosis(diagnosis);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return diagnosis["problems"].empty() ? 0 : 1;
}

}  // namespace kadroo::jsonrpc
