#include "ftp/PortText.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "control/RuntimeError.h"

namespace kadroo {
namespace {

bool SkippedByVal(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// "[address]" or "[address]:..." with an address of IPv6 characters: the position of the closing bracket.
size_t BracketEnd(TextView server) {
  if (server.size() < 3 || server[0] != u'[') return Text::npos;
  const size_t close = server.find(u']');
  if (close == Text::npos || (close + 1 < server.size() && server[close + 1] != u':')) return Text::npos;
  const TextView address = server.substr(1, close - 1);
  if (address.find(u':') == TextView::npos) return Text::npos;
  for (char16_t c : address) {
    const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (!hex && c != u':' && c != u'.') return Text::npos;
  }
  return close;
}

}  // namespace

void SplitServerText(Text& server, Text& port) {
  const size_t close = BracketEnd(server);
  const size_t colon = close != Text::npos ? (close + 1 < server.size() ? close + 1 : Text::npos) : server.find(u':');
  if (colon == Text::npos) return;
  port = server.substr(colon + 1);
  server.resize(colon);
}

TextView HostOfServerText(TextView server) {
  const size_t close = BracketEnd(server);
  return close == Text::npos ? server : server.substr(1, close - 1);
}

double LeadingNumber(TextView text) {
  std::string compact;
  for (char16_t c : text) {
    if (SkippedByVal(c)) continue;
    if (c > 0x7F) break;
    compact += static_cast<char>(c);
  }
  if (compact.size() >= 2 && compact[0] == '&') {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(compact[1])));
    const int base = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
    if (base == 0) return 0;
    int64_t value = 0;
    for (size_t i = 2; i < compact.size(); ++i) {
      const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(compact[i])));
      const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : 99;
      if (digit >= base) break;
      value = value * base + digit;
      if (value > 0xFFFFFFFFLL) break;
    }
    // &H values are 16- or 32-bit signed, as the runtime reads them.
    if (value <= 0xFFFF) return static_cast<double>(static_cast<int16_t>(value));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(value)));
  }
  size_t i = 0;
  std::string number;
  if (i < compact.size() && (compact[i] == '+' || compact[i] == '-')) number += compact[i++];
  bool digits = false;
  while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i]))) {
    number += compact[i++];
    digits = true;
  }
  if (i < compact.size() && compact[i] == '.') {
    number += compact[i++];
    while (i < compact.size() && std::isdigit(static_cast<unsigned char>(compact[i]))) {
      number += compact[i++];
      digits = true;
    }
  }
  if (!digits) return 0;
  if (i < compact.size() && (compact[i] == 'e' || compact[i] == 'E' || compact[i] == 'd' || compact[i] == 'D')) {
    std::string exponent = "e";
    size_t j = i + 1;
    if (j < compact.size() && (compact[j] == '+' || compact[j] == '-')) exponent += compact[j++];
    bool expDigits = false;
    while (j < compact.size() && std::isdigit(static_cast<unsigned char>(compact[j]))) {
      exponent += compact[j++];
      expDigits = true;
    }
    if (expDigits) number += exponent;
  }
  return std::strtod(number.c_str(), nullptr);
}

uint16_t PortNumber(TextView portText) {
  const double value = std::nearbyint(LeadingNumber(portText));
  if (!(value >= 0 && value <= 65535)) Raise(ErrorNumber::kOverflow);
  return static_cast<uint16_t>(value);
}

}  // namespace kadroo
