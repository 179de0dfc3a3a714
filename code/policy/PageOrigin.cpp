#include "policy/PageOrigin.h"

#include "policy/BridgePolicy.h"

#include <cctype>

namespace kadroo {
namespace {

int DefaultPort(const std::string& scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "ftp") return 21;
  return -1;
}

}  // namespace

std::optional<std::string> OriginOfUrl(std::string_view url) {
  // Browsers drop leading and trailing spaces and control characters before reading an address.
  while (!url.empty() && static_cast<unsigned char>(url.front()) <= ' ') url.remove_prefix(1);
  while (!url.empty() && static_cast<unsigned char>(url.back()) <= ' ') url.remove_suffix(1);
  const size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  for (size_t i = 0; i < colon; ++i) {
    const char c = url[i];
    const bool letter = std::isalpha(static_cast<unsigned char>(c));
    if (!letter && (i == 0 || (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.'))) {
      return std::nullopt;
    }
  }
  const std::string scheme = AsciiLower(url.substr(0, colon));
  // Other schemes (file:, about:, res:, javascript:...) give a page an opaque origin, which no policy can list.
  if (DefaultPort(scheme) < 0) return std::nullopt;
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  std::string_view rest = url.substr(colon + 1);
  if (rest.size() < 2 || !separator(rest[0]) || !separator(rest[1])) return std::nullopt;
  rest.remove_prefix(2);
  size_t end = 0;
  while (end < rest.size() && !separator(rest[end]) && rest[end] != '?' && rest[end] != '#') ++end;
  std::string_view authority = rest.substr(0, end);
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

  std::string_view host = authority, port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port = authority.substr(close + 2);
    }
  } else if (const size_t portColon = authority.rfind(':'); portColon != std::string_view::npos) {
    host = authority.substr(0, portColon);
    port = authority.substr(portColon + 1);
  }
  if (host.empty()) return std::nullopt;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '%' || c == '@' || c == '<' || c == '>' || c == '^' || c == '|') {
      return std::nullopt;
    }
  }
  std::string origin = scheme + "://" + AsciiLower(host);
  if (!port.empty()) {
    long number = 0;
    for (char c : port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      number = number * 10 + (c - '0');
      if (number > 65535) return std::nullopt;
    }
    if (number != DefaultPort(scheme)) origin += ":" + std::to_string(number);
  }
  return origin;
}

}  // namespace kadroo
