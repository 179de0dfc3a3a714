#include "host/ftp/FtpTlsSettings.h"

namespace kadroo::ftp {

std::optional<TlsDemand> FtpTlsSettings::For(const std::string& host, uint16_t port) const {
  const bool v6 = host.find(':') != std::string::npos;
  const auto target = ParseFtpServerEntry((v6 ? "[" + host + "]" : host) + ":" + std::to_string(port));
  if (!target) return everyServer ? std::optional(TlsDemand{host, std::nullopt}) : std::nullopt;
  const auto found = servers.find(Describe(*target));
  if (found == servers.end()) return everyServer ? std::optional(TlsDemand{host, std::nullopt}) : std::nullopt;
  return TlsDemand{host, found->second};
}

}  // namespace kadroo::ftp
