#include "policy/PolicyDocument.h"

#include "policy/PageOrigin.h"

#include <cctype>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

namespace kadroo {
namespace {

using nlohmann::json;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The entry with "~" made the home folder, when it is absolute: "/...", "\\server\...", "C:\..." or "C:/...".
std::optional<std::string> AbsoluteEntry(const std::string& entry, const std::string& home) {
  std::string path = entry;
  if (path == "~" || (path.size() > 1 && path[0] == '~' && IsSeparator(path[1]))) path = home + path.substr(1);
  const bool rooted = !path.empty() && IsSeparator(path[0]);
  const bool drive = path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                     IsSeparator(path[2]);
  if (!rooted && !drive) return std::nullopt;
  return path;
}

// A folder that does not exist yet, by its text alone (a resolver gives nothing for it on Linux).
std::optional<std::string> NormalizedFolder(std::string path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return NormalizePath(path);
}

// An origin as browsers report a page's: http or https, the host in lower case, the port only when it is not the
// scheme's default, nothing after it. Any other spelling would list a site no page ever comes from.
bool IsPageOrigin(const std::string& origin) {
  return (origin.rfind("http://", 0) == 0 || origin.rfind("https://", 0) == 0) && OriginOfUrl(origin) == origin;
}

std::optional<BridgePolicy> Parse(const std::string& text, const std::string& home, PathResolver& paths,
                                  std::string& problem) {
  // The parser keeps the last of two equal keys without a word: each object's keys are noted to find the first.
  std::vector<std::set<std::string>> keys;
  std::string twice;
  const json::parser_callback_t noteKeys = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) keys.emplace_back();
    if (event == json::parse_event_t::object_end && !keys.empty()) keys.pop_back();
    if (event == json::parse_event_t::key && !keys.empty() && !keys.back().insert(parsed.get<std::string>()).second &&
        twice.empty()) {
      twice = parsed.get<std::string>();
    }
    return true;
  };
  const json document = json::parse(text, noteKeys, false);
  if (document.is_discarded() || !document.is_object()) {
    problem = "not a JSON object";
    return std::nullopt;
  }
  if (!twice.empty()) {
    problem = "\"" + twice + "\" is given twice";
    return std::nullopt;
  }
  for (const auto& [key, value] : document.items()) {
    if (key != "sites") {
      problem = "unknown key \"" + key + "\" (a policy has \"sites\" only)";
      return std::nullopt;
    }
  }
  BridgePolicy policy;
  const auto sites = document.find("sites");
  if (sites == document.end()) return policy;
  if (!sites->is_object()) {
    problem = "\"sites\" is not an object";
    return std::nullopt;
  }
  for (const auto& [origin, settings] : sites->items()) {
    if (!IsPageOrigin(origin)) {
      problem = origin + ": not an origin as a browser reports it (http or https://host[:port], lower case, "
                         "no default port, no path or slash after it)";
      return std::nullopt;
    }
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
        } else if (name == "registryKeys") {
          auto key = FromUtf8(value);
          if (key) key = RegistryKeyPath(*key, true);
          if ((good = key.has_value())) site.registryKeys.push_back(*key);
        } else {
          const auto path = AbsoluteEntry(value, home);
          const auto named = path ? FromUtf8(*path) : std::nullopt;
          std::optional<std::string> resolved;
          if (named && name == "programs") {
            resolved = paths.ResolveFolderOf(*named);
          } else if (named) {
            resolved = paths.ResolvePath(*named);
            if (!resolved) resolved = NormalizedFolder(*path);
          }
          if ((good = resolved.has_value())) {
            (name == "programs" ? site.programs : site.localFolders).push_back(*resolved);
          }
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

}  // namespace

PolicyLoad ParsePolicy(const std::string& text, const std::string& home, PathResolver& paths,
                       const std::string& place) {
  std::string problem;
  auto policy = Parse(text, home, paths, problem);
  if (!policy) return RefusedPolicy(place, place + ": " + problem);
  return {PolicyLoad::Status::kLoaded, std::move(*policy), "", place};
}

PolicyLoad RefusedPolicy(const std::string& place, const std::string& problem) {
  return {PolicyLoad::Status::kRefused, {}, problem, place};
}

}  // namespace kadroo
