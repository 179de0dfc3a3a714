#include "host/jsonrpc/PolicyFile.h"

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "host/posix/AdminFiles.h"

namespace kadroo::jsonrpc {
namespace {

using nlohmann::json;

std::optional<std::string> AbsoluteEntry(const std::string& entry, const std::string& home) {
  std::string path = entry;
  if (path == "~" || path.rfind("~/", 0) == 0) path = home + path.substr(1);
  if (path.empty() || path[0] != '/') return std::nullopt;
  return path;
}

}  // namespace

std::string PolicyFilePath() {
  const char* path = std::getenv("KADROOA_POLICY_FILE");
  return path && *path ? path : "/etc/kadrooa/policy.json";
}

std::optional<BridgePolicy> ParseBridgePolicy(const std::string& text, const std::string& home,
                                              std::string& problem) {
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    problem = "not a JSON object";
    return std::nullopt;
  }
  BridgePolicy policy;
  const auto sites = document.find("sites");
  if (sites == document.end()) return policy;
  if (!sites->is_object()) {
    problem = "\"sites\" is not an object";
    return std::nullopt;
  }
  for (const auto& [origin, settings] : sites->items()) {
    SitePolicy& site = policy.sites[origin];
    if (!settings.is_object()) {
      problem = origin + ": not an object";
      return std::nullopt;
    }
    for (const auto& [name, entries] : settings.items()) {
      if (name != "ftpServers" && name != "programs" && name != "registryKeys" && name != "localFolders") {
        problem = origin + ": unknown setting " + name;
        return std::nullopt;
      }
      if (!entries.is_array()) {
        problem = origin + ": " + name + " is not a list";
        return std::nullopt;
      }
      for (const auto& entry : entries) {
        const std::string value = entry.is_string() ? entry.get<std::string>() : entry.dump();
        bool good = entry.is_string();
        if (!good) {
        } else if (name == "ftpServers") {
          auto target = ParseFtpServerEntry(value);
          if ((good = target.has_value())) site.ftpServers.push_back(*target);
        } else if (name == "programs") {
          auto path = AbsoluteEntry(value, home);
          if (path) path = posix::ResolveFolderOf(*path);
          if ((good = path.has_value())) site.programs.push_back(*path);
        } else if (name == "registryKeys") {
          auto key = FromUtf8(value);
          if (key) key = RegistryKeyPath(*key, true);
          if ((good = key.has_value())) site.registryKeys.push_back(*key);
        } else {
          auto path = AbsoluteEntry(value, home);
          if (path) {
            auto resolved = posix::ResolvePath(*path);
            path = resolved ? resolved : NormalizePath(*path);
          }
          if ((good = path.has_value())) site.localFolders.push_back(*path);
        }
        if (!good) {
          problem = origin + ": " + name + ": bad entry " + value;
          return std::nullopt;
        }
      }
    }
  }
  return policy;
}

std::optional<BridgePolicy> LoadBridgePolicy(const std::string& path, std::string& problem) {
  auto text = posix::ReadRootOwnedFile(path, problem);
  if (!text) {
    if (problem.empty()) return BridgePolicy{};
    return std::nullopt;
  }
  auto policy = ParseBridgePolicy(*text, posix::HomeDirectory(), problem);
  if (!policy) problem = path + ": " + problem;
  return policy;
}

}  // namespace kadroo::jsonrpc
