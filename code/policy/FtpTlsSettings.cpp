#include "policy/FtpTlsSettings.h"

#include <nlohmann/json.hpp>

#include "policy/BridgePolicy.h"

namespace kadroo {
namespace {

std::optional<CertificateFingerprint> ParseFingerprint(const std::string& text) {
  CertificateFingerprint out{};
  size_t digits = 0;
  for (char c : text) {
    if (c == ':' || c == ' ') continue;
    int value;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    else return std::nullopt;
    if (digits >= 64) return std::nullopt;
    out[digits / 2] = static_cast<uint8_t>(out[digits / 2] << 4 | value);
    ++digits;
  }
  if (digits != 64) return std::nullopt;
  return out;
}

FtpTlsSettings Refused(std::string& problem, std::string why) {
  problem = std::move(why);
  FtpTlsSettings settings;
  settings.everyServer = true;
  return settings;
}

}  // namespace

std::optional<FtpTlsRequirement> FtpTlsSettings::For(const std::string& host, uint16_t port) const {
  const bool v6 = host.find(':') != std::string::npos;
  const auto target = ParseFtpServerEntry((v6 ? "[" + host + "]" : host) + ":" + std::to_string(port));
  const auto found = target ? servers.find(Describe(*target)) : servers.end();
  if (found != servers.end()) return FtpTlsRequirement{found->second};
  return everyServer ? std::optional(FtpTlsRequirement{}) : std::nullopt;
}

FtpTlsSettings ParseFtpTlsSettings(const std::string& text, std::string& problem) {
  problem.clear();
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return {};
  const auto document = nlohmann::json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) return Refused(problem, "not a JSON object");
  FtpTlsSettings settings;
  for (const auto& [name, value] : document.items()) {
    if (name != "servers") return Refused(problem, "unknown setting " + name);
    if (!value.is_object()) return Refused(problem, "\"servers\" is not an object");
    for (const auto& [server, options] : value.items()) {
      const auto target = ParseFtpServerEntry(server);
      if (!target) return Refused(problem, server + ": not a server (host, host:port, [IPv6] or [IPv6]:port)");
      if (!options.is_object()) return Refused(problem, server + ": not an object");
      std::optional<CertificateFingerprint> pin;
      for (const auto& [option, setting] : options.items()) {
        if (option != "sha256") return Refused(problem, server + ": unknown setting " + option);
        if (setting.is_string()) pin = ParseFingerprint(setting.get<std::string>());
        if (!pin) return Refused(problem, server + ": sha256 is not 64 hexadecimal digits");
      }
      settings.servers[Describe(*target)] = pin;
    }
  }
  return settings;
}

}  // namespace kadroo
