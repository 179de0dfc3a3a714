#include "ftp/ServerState.h"

#include <cstdio>
#include <vector>

namespace kadroo {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Upper(c);
  return out;
}

// The words of a line, split at spaces.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// The text after the code of a single-line positive reply ("213 text"), or nothing.
std::optional<std::string_view> PositiveText(std::string_view reply) {
  const int code = ReplyCode(reply);
  if (code < 200 || code >= 300) return std::nullopt;
  const auto lines = Lines(reply);
  std::string_view last = lines.back();
  return last.size() > 4 ? last.substr(4) : std::string_view();
}

struct Algorithm {
  const char* name;
  const char* verbs[2];
  size_t hexLength;
};
constexpr Algorithm kAlgorithms[] = {
    {"SHA-256", {"XSHA256", nullptr}, 64},
    {"SHA-1", {"XSHA1", "XSHA"}, 40},
    {"MD5", {"XMD5", nullptr}, 32},
    {"CRC32", {"XCRC", nullptr}, 8},
};

}  // namespace

int ReplyCode(std::string_view reply) {
  const auto lines = Lines(reply);
  if (lines.empty()) return 0;
  std::string_view last = lines.back();
  if (last.size() < 3 || !IsDigit(last[0]) || !IsDigit(last[1]) || !IsDigit(last[2])) return 0;
  return (last[0] - '0') * 100 + (last[1] - '0') * 10 + (last[2] - '0');
}

ServerFeatures ParseFeatures(std::string_view featReply) {
  ServerFeatures features;
  if (ReplyCode(featReply) != 211) return features;
  std::vector<std::string> verbs;
  std::string hashList;
  const auto lines = Lines(featReply);
  // Feature lines are those between the first and the last, each starting with a space.
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const auto words = Words(lines[i]);
    if (words.empty()) continue;
    const std::string verb = UpperCase(words[0]);
    if (verb == "MLST") features.mlst = true;
    if (verb == "HASH" && words.size() > 1) hashList = UpperCase(words[1]);
    verbs.push_back(verb);
  }
  auto offered = [&](const char* verb) {
    for (const auto& v : verbs) {
      if (verb && v == verb) return true;
    }
    return false;
  };
  for (const Algorithm& a : kAlgorithms) {
    for (const char* verb : a.verbs) {
      if (offered(verb)) {
        features.hash = HashCommand{a.name, verb, false, a.hexLength};
        return features;
      }
    }
    // "HASH SHA-256*;SHA-1;MD5": the starred one is the current algorithm.
    size_t start = 0;
    while (!hashList.empty() && start <= hashList.size()) {
      size_t end = hashList.find(';', start);
      if (end == std::string::npos) end = hashList.size();
      std::string_view entry = std::string_view(hashList).substr(start, end - start);
      const bool current = !entry.empty() && entry.back() == '*';
      if (current) entry.remove_suffix(1);
      if (entry == a.name) {
        features.hash = HashCommand{a.name, "HASH", !current, a.hexLength};
        return features;
      }
      start = end + 1;
    }
  }
  return features;
}

bool ChangedMeanwhile(const ServerFileState& baseline, const ServerFileState& now) {
  if (!baseline.hash.empty() && !now.hash.empty() && baseline.hashAlgorithm == now.hashAlgorithm) {
    return baseline.hash != now.hash;
  }
  if (baseline.size && now.size && *baseline.size != *now.size) return true;
  auto differ = [](const std::string& a, const std::string& b) { return !a.empty() && !b.empty() && a != b; };
  return differ(baseline.modified, now.modified) || differ(baseline.mlstModify, now.mlstModify) ||
         differ(baseline.unique, now.unique);
}

std::optional<uint64_t> ParseSizeReply(std::string_view reply) {
  if (ReplyCode(reply) != 213) return std::nullopt;
  const auto words = Words(*PositiveText(reply));
  if (words.empty() || words[0].size() > 19) return std::nullopt;
  uint64_t size = 0;
  for (char c : words[0]) {
    if (!IsDigit(c)) return std::nullopt;
    size = size * 10 + static_cast<uint64_t>(c - '0');
  }
  return size;
}

std::string ParseMdtmReply(std::string_view reply) {
  if (ReplyCode(reply) != 213) return {};
  const auto words = Words(*PositiveText(reply));
  if (words.empty() || words[0].size() < 14) return {};
  for (size_t i = 0; i < 14; ++i) {
    if (!IsDigit(words[0][i])) return {};
  }
  return std::string(words[0]);
}

bool ParseMlstReply(std::string_view reply, ServerFileState& state) {
  const int code = ReplyCode(reply);
  if (code < 200 || code >= 300) return false;
  const auto lines = Lines(reply);
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty() || line[0] != ' ') continue;
    line.remove_prefix(1);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) continue;
    std::string_view facts = line.substr(0, space);
    ServerFileState found;
    bool any = false;
    while (!facts.empty()) {
      const size_t semicolon = facts.find(';');
      const std::string_view fact = facts.substr(0, semicolon);
      facts.remove_prefix(semicolon == std::string_view::npos ? facts.size() : semicolon + 1);
      const size_t equals = fact.find('=');
      if (equals == std::string_view::npos) continue;
      const std::string name = UpperCase(fact.substr(0, equals));
      const std::string_view value = fact.substr(equals + 1);
      if (name == "SIZE") {
        auto size = ParseSizeReply("213 " + std::string(value));
        if (size) found.size = size, any = true;
      } else if (name == "MODIFY" && !value.empty()) {
        found.mlstModify = std::string(value), any = true;
      } else if (name == "UNIQUE" && !value.empty()) {
        found.unique = std::string(value);
      }
    }
    if (!any) return false;
    state.size = found.size;
    state.mlstModify = found.mlstModify;
    state.unique = found.unique;
    return true;
  }
  return false;
}

std::string ParseHashReply(std::string_view reply, size_t hexLength) {
  const auto text = PositiveText(reply);
  if (!text) return {};
  for (std::string_view word : Words(*text)) {
    if (word.size() != hexLength) continue;
    std::string hex;
    for (char c : word) {
      if (!IsHex(c)) break;
      hex += Lower(c);
    }
    if (hex.size() == hexLength) return hex;
  }
  return {};
}

Text KeptName(const Text& remote, const std::tm& local, int attempt) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, ".%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  std::string suffix = stamp;
  if (attempt > 1) suffix += "-" + std::to_string(attempt);
  const size_t slash = remote.find_last_of(u"/\\");
  const size_t nameStart = slash == Text::npos ? 0 : slash + 1;
  const size_t dot = remote.rfind(u'.');
  // A leading dot (".profile") is a hidden name, not an extension.
  if (dot == Text::npos || dot <= nameStart) return remote + FromAscii(suffix);
  return remote.substr(0, dot) + FromAscii(suffix) + remote.substr(dot);
}

}  // namespace kadroo
