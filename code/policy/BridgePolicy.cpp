#include "policy/BridgePolicy.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "control/RuntimeError.h"
#include "desktop/Registry.h"
#include "ftp/FtpClient.h"
#include "ftp/PortText.h"

namespace kadroo {
namespace {

// The 8 groups of an IPv6 address written in any of its forms ("::", an IPv4 tail), in full and in lower case;
// nullopt when the text is no IPv6 address.
std::optional<std::string> FullIpv6(std::string_view text) {
  std::vector<uint16_t> head, tail;
  bool compressed = false;
  std::vector<uint16_t>* groups = &head;
  size_t i = 0;
  if (text.substr(0, 2) == "::") {
    compressed = true;
    groups = &tail;
    i = 2;
  }
  while (i < text.size()) {
    const size_t end = std::min(text.find(':', i), text.size());
    const std::string_view part = text.substr(i, end - i);
    if (part.find('.') != std::string_view::npos && end == text.size()) {  // the IPv4 tail
      std::array<unsigned, 4> bytes{};
      size_t at = 0, n = 0;
      for (; n < 4; ++n) {
        size_t digits = 0;
        unsigned value = 0;
        while (at < part.size() && std::isdigit(static_cast<unsigned char>(part[at])) && digits < 3) {
          value = value * 10 + static_cast<unsigned>(part[at++] - '0');
          ++digits;
        }
        if (digits == 0 || value > 255) return std::nullopt;
        bytes[n] = value;
        if (n < 3 && (at >= part.size() || part[at++] != '.')) return std::nullopt;
      }
      if (at != part.size()) return std::nullopt;
      groups->push_back(static_cast<uint16_t>(bytes[0] << 8 | bytes[1]));
      groups->push_back(static_cast<uint16_t>(bytes[2] << 8 | bytes[3]));
      i = end;
      break;
    }
    if (part.empty() || part.size() > 4) return std::nullopt;
    uint16_t value = 0;
    for (char c : part) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
      value = static_cast<uint16_t>(value << 4 | (std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                              : (c | 0x20) - 'a' + 10));
    }
    groups->push_back(value);
    i = end;
    if (i == text.size()) break;
    if (text.substr(i, 2) == "::") {
      if (compressed) return std::nullopt;
      compressed = true;
      groups = &tail;
      i += 2;
    } else {
      ++i;
      if (i == text.size()) return std::nullopt;  // a trailing single colon
    }
  }
  const size_t count = head.size() + tail.size();
  if (compressed ? count > 7 : count != 8) return std::nullopt;
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  std::string out;
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t g = 0; g < 8; ++g) {
    if (g) out += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = head[g] >> shift & 0xF;
      if (digit || started || shift == 0) out += kHex[digit], started = true;
    }
  }
  return out;
}

std::string ComparableHost(std::string_view host) {
  if (auto full = FullIpv6(host)) return *full;
  return AsciiLower(host);
}

std::vector<TextView> Components(TextView path) {
  std::vector<TextView> out;
  size_t begin = 0;
  for (;;) {
    const size_t end = path.find(u'\\', begin);
    out.push_back(path.substr(begin, end == TextView::npos ? TextView::npos : end - begin));
    if (end == TextView::npos) return out;
    begin = end + 1;
  }
}

// Folders resolved on Linux start with "/"; on Windows (C:\OA, \\server\share) a backslash separates names.
bool WithinFolder(std::string_view path, std::string_view folder) {
  if (folder.empty() || path.substr(0, folder.size()) != folder) return false;
  const char separator = folder[0] == '/' ? '/' : '\\';
  if (folder.back() == separator) return path.size() > folder.size();  // a root: "/", "C:\\"
  return path.size() > folder.size() + 1 && path[folder.size()] == separator;
}

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<FtpServerTarget> ParseFtpServerEntry(std::string_view entry) {
  FtpServerTarget target;
  std::string_view host = entry, port;
  if (!entry.empty() && entry[0] == '[') {
    const size_t close = entry.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = entry.substr(1, close - 1);
    if (!FullIpv6(host)) return std::nullopt;
    if (close + 1 < entry.size()) {
      if (entry[close + 1] != ':') return std::nullopt;
      port = entry.substr(close + 2);
      if (port.empty()) return std::nullopt;
    }
  } else if (const size_t colon = entry.find(':'); colon != std::string_view::npos) {
    host = entry.substr(0, colon);
    port = entry.substr(colon + 1);
    if (port.empty()) return std::nullopt;
  }
  if (host.empty()) return std::nullopt;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']') return std::nullopt;
  }
  if (!port.empty()) {
    unsigned value = 0;
    for (char c : port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
      if (value > 65535) return std::nullopt;
    }
    target.port = value == 0 ? INTERNET_DEFAULT_FTP_PORT : static_cast<uint16_t>(value);
  }
  target.host = ComparableHost(host);
  return target;
}

std::optional<FtpServerTarget> ConnectionTarget(TextView serverText) {
  if (serverText.empty()) return std::nullopt;
  Text server(serverText);
  Text port;
  SplitServerText(server, port);
  FtpServerTarget target;
  try {
    const uint16_t number = PortNumber(port);
    target.port = number == 0 ? INTERNET_DEFAULT_FTP_PORT : number;
  } catch (const RuntimeError&) {
    return FtpServerTarget{"", 0};  // the control stops at the port: nowhere to connect
  }
  const auto host = ToUtf8(HostOfServerText(server));
  target.host = host ? ComparableHost(*host) : std::string();
  return target;
}

std::string Describe(const FtpServerTarget& target) {
  const bool v6 = target.host.find(':') != std::string::npos;
  return (v6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
}

std::optional<Text> RegistryKeyPath(TextView key, bool abbreviations) {
  static constexpr std::pair<const char16_t*, const char16_t*> kShort[] = {
      {u"HKCR", u"HKEY_CLASSES_ROOT"}, {u"HKCU", u"HKEY_CURRENT_USER"},   {u"HKLM", u"HKEY_LOCAL_MACHINE"},
      {u"HKU", u"HKEY_USERS"},         {u"HKCC", u"HKEY_CURRENT_CONFIG"},
  };
  const size_t slash = key.find(u'\\');
  Text root = ToUpper(key.substr(0, slash));
  bool known = false;
  for (const auto& candidate : kRootKeyNames) known = known || root == candidate.name;
  for (const auto& [abbreviation, name] : kShort) {
    if (abbreviations && root == abbreviation) {
      root = name;
      known = true;
    }
  }
  if (!known) return std::nullopt;
  if (slash == TextView::npos) return root;
  TextView sub = key.substr(slash + 1);
  if (!sub.empty() && sub.back() == u'\\') sub.remove_suffix(1);
  return sub.empty() ? root : root + u"\\" + ToUpper(sub);
}

std::optional<std::string> NormalizePath(std::string_view path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  std::vector<std::string_view> parts;
  size_t begin = 0;
  while (begin <= path.size()) {
    const size_t end = std::min(path.find('/', begin), path.size());
    const std::string_view part = path.substr(begin, end - begin);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    begin = end + 1;
  }
  std::string out;
  for (auto part : parts) out += "/" + std::string(part);
  return out.empty() ? "/" : out;
}

bool AllowsFtpServer(const SitePolicy& site, const FtpServerTarget& target) {
  return !target.host.empty() &&
         std::find(site.ftpServers.begin(), site.ftpServers.end(), target) != site.ftpServers.end();
}

bool AllowsProgram(const SitePolicy& site, std::string_view resolvedPath) {
  return std::find(site.programs.begin(), site.programs.end(), resolvedPath) != site.programs.end();
}

bool AllowsRegistryKey(const SitePolicy& site, TextView key) {
  const auto path = RegistryKeyPath(key, false);
  if (!path) return false;
  const auto asked = Components(*path);
  for (const Text& listed : site.registryKeys) {
    const auto prefix = Components(listed);
    if (prefix.size() <= asked.size() && std::equal(prefix.begin(), prefix.end(), asked.begin())) return true;
  }
  return false;
}

bool AllowsLocalPath(const SitePolicy& site, std::string_view resolvedPath) {
  for (const auto& folder : site.localFolders) {
    if (WithinFolder(resolvedPath, folder)) return true;
  }
  return false;
}

}  // namespace kadroo
