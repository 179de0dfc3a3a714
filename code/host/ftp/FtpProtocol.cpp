#include "host/ftp/FtpProtocol.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace kadroo::ftp {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr int kLastYear = 9999;  // four digits, as every listing writes it; later ones overflow a FILETIME
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Lower(x) == Lower(y);
         });
}

template <typename T>
std::optional<T> Number(std::string_view text) {
  // Digits only: from_chars would take a minus sign, and a year of -202024 overflows the file time.
  if (text.empty() || text[0] == '-') return std::nullopt;
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Splits on runs of spaces and tabs; `rest[i]` is the text from token i to the end, so names keep their spaces.
struct Tokens {
  std::vector<std::string_view> words;
  std::vector<std::string_view> rest;
};

Tokens Tokenize(std::string_view line) {
  Tokens t;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    t.words.push_back(line.substr(i, j - i));
    t.rest.push_back(line.substr(i));
    i = j;
  }
  return t;
}

int MonthNumber(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  for (size_t i = 0; i < kMonths.size(); ++i) {
    if (EqualsNoCase(word, kMonths[i])) return static_cast<int>(i) + 1;
  }
  return 0;
}

// "HH:MM" into hours and minutes.
bool ParseClock(std::string_view word, int& hour, int& minute) {
  const size_t colon = word.find(':');
  if (colon == std::string_view::npos || word.size() < colon + 3) return false;  // minutes have two digits
  auto h = Number<int>(word.substr(0, colon));
  auto m = Number<int>(word.substr(colon + 1, 2));
  if (!h || !m || *h > 23 || *m > 59) return false;
  hour = *h;
  minute = *m;
  return true;
}

std::optional<Entry> ParseUnixLine(const Tokens& t, const Today& today) {
  const std::string_view mode = t.words[0];
  if (mode.size() < 10 || std::string_view("-dlbcpsD").find(mode[0]) == std::string_view::npos) {
    return std::nullopt;
  }
  // The month is the first token, after the links count, that names a month and is followed by a day.
  for (size_t m = 3; m + 3 < t.words.size(); ++m) {
    const int month = MonthNumber(t.words[m]);
    auto size = Number<uint64_t>(t.words[m - 1]);
    auto day = Number<int>(t.words[m + 1]);
    if (month == 0 || !size || !day || *day < 1 || *day > 31) continue;
    int year = 0, hour = 0, minute = 0;
    const std::string_view yearOrTime = t.words[m + 2];
    if (ParseClock(yearOrTime, hour, minute)) {
      // No year: the date lies within the last twelve months.
      year = today.year;
      if (month > today.month || (month == today.month && *day > today.day + 1)) --year;
    } else if (auto y = Number<int>(yearOrTime); y && *y >= 1900 && *y <= kLastYear) {
      year = *y;
    } else {
      continue;
    }
    Entry e;
    // The name starts one space after the time or year, so that leading spaces of a name survive.
    const std::string_view line = t.rest[0];
    const size_t nameAt = static_cast<size_t>(yearOrTime.data() + yearOrTime.size() - line.data()) + 1;
    std::string_view name = line.substr(std::min(nameAt, line.size()));
    if (mode[0] == 'l') {
      const size_t arrow = name.find(" -> ");
      if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    e.name = std::string(name);
    e.directory = mode[0] == 'd';
    e.size = *size;
    e.modified = FileTimeFromCivil(year, month, *day, hour, minute, 0);
    return e;
  }
  return std::nullopt;
}

std::optional<Entry> ParseDosLine(const Tokens& t) {
  if (t.words.size() < 4) return std::nullopt;
  const std::string_view date = t.words[0];
  // MM-DD-YY or MM-DD-YYYY
  if (date.size() < 8 || date[2] != '-' || date[5] != '-') return std::nullopt;
  auto month = Number<int>(date.substr(0, 2));
  auto day = Number<int>(date.substr(3, 2));
  auto year = Number<int>(date.substr(6));
  if (!month || !day || !year || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *year > kLastYear) {
    return std::nullopt;
  }
  if (date.size() == 8) *year += *year < 70 ? 2000 : 1900;
  int hour = 0, minute = 0;
  std::string_view clock = t.words[1];
  if (!ParseClock(clock, hour, minute)) return std::nullopt;
  const std::string_view suffix = clock.substr(clock.find(':') + 3);
  if (EqualsNoCase(suffix, "PM") && hour < 12) hour += 12;
  if (EqualsNoCase(suffix, "AM") && hour == 12) hour = 0;
  Entry e;
  if (t.words[2] == "<DIR>") {
    e.directory = true;
  } else if (auto size = Number<uint64_t>(t.words[2])) {
    e.size = *size;
  } else {
    return std::nullopt;
  }
  e.name = std::string(t.rest[3]);
  e.modified = FileTimeFromCivil(*year, *month, *day, hour, minute, 0);
  return e;
}

}  // namespace

std::optional<Reply> ReplyParser::Feed(std::string_view line) {
  const bool hasCode = line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
  const int lineCode = hasCode ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
  const char mark = line.size() > 3 ? line[3] : ' ';
  if (code_ == 0) {
    if (!hasCode || (mark != ' ' && mark != '-')) return Reply{-1, std::string(line)};
    text_ = std::string(line);
    if (mark == '-') {
      code_ = lineCode;
      return std::nullopt;
    }
    return Reply{lineCode, std::move(text_)};
  }
  text_ += '\n';
  text_ += line;
  if (hasCode && lineCode == code_ && mark == ' ') {
    Reply reply{code_, std::move(text_)};
    code_ = 0;
    text_.clear();
    return reply;
  }
  return std::nullopt;
}

std::optional<PassiveAddress> ParsePasvReply(std::string_view text) {
  for (size_t start = 0; start < text.size(); ++start) {
    if (!IsDigit(text[start]) || (start > 0 && IsDigit(text[start - 1]))) continue;
    std::array<unsigned, 6> n{};
    size_t i = start;
    size_t k = 0;
    for (; k < 6; ++k) {
      size_t j = i;
      while (j < text.size() && IsDigit(text[j]) && j - i < 4) ++j;
      auto v = Number<unsigned>(text.substr(i, j - i));
      if (!v || *v > 255) break;
      n[k] = *v;
      if (k < 5) {
        if (j >= text.size() || text[j] != ',') break;
        i = j + 1;
      }
    }
    if (k == 6) {
      char host[16];
      std::snprintf(host, sizeof host, "%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
      return PassiveAddress{host, static_cast<uint16_t>(n[4] * 256 + n[5])};
    }
  }
  return std::nullopt;
}

std::optional<PassiveAddress> ParseEpsvReply(std::string_view text) {
  const size_t open = text.find('(');
  if (open == std::string_view::npos || open + 4 >= text.size()) return std::nullopt;
  const char d = text[open + 1];
  if (IsDigit(d) || text[open + 2] != d || text[open + 3] != d) return std::nullopt;
  const size_t end = text.find(d, open + 4);
  if (end == std::string_view::npos || end + 1 >= text.size() || text[end + 1] != ')') return std::nullopt;
  auto port = Number<unsigned>(text.substr(open + 4, end - open - 4));
  if (!port || *port == 0 || *port > 65535) return std::nullopt;
  return PassiveAddress{"", static_cast<uint16_t>(*port)};
}

std::string FormatEprtArgument(int family, std::string_view address, uint16_t port) {
  return "|" + std::to_string(family) + "|" + std::string(address) + "|" + std::to_string(port) + "|";
}

std::optional<std::string> FormatPortArgument(std::string_view address, uint16_t port) {
  std::string out;
  int parts = 0;
  size_t i = 0;
  while (i <= address.size()) {
    size_t j = address.find('.', i);
    if (j == std::string_view::npos) j = address.size();
    auto v = Number<unsigned>(address.substr(i, j - i));
    if (!v || *v > 255) return std::nullopt;
    out += std::to_string(*v) + ",";
    ++parts;
    i = j + 1;
  }
  if (parts != 4) return std::nullopt;
  return out + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::optional<uint64_t> ParseTransferSize(std::string_view text) {
  const size_t end = text.rfind(" bytes)");
  if (end == std::string_view::npos) return std::nullopt;
  const size_t open = text.rfind('(', end);
  if (open == std::string_view::npos) return std::nullopt;
  return Number<uint64_t>(text.substr(open + 1, end - open - 1));
}

std::optional<std::string> ParsePwdReply(std::string_view text) {
  size_t i = text.find('"');
  if (i == std::string_view::npos) return std::nullopt;
  std::string dir;
  for (++i; i < text.size(); ++i) {
    if (text[i] != '"') {
      dir += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      dir += '"';
      ++i;
    } else {
      return dir;
    }
  }
  return std::nullopt;
}

bool FeatHas(std::string_view featReplyText, std::string_view feature) {
  size_t i = 0;
  while (i < featReplyText.size()) {
    size_t j = featReplyText.find('\n', i);
    if (j == std::string_view::npos) j = featReplyText.size();
    const Tokens t = Tokenize(featReplyText.substr(i, j - i));
    // The first and last lines carry the code; feature lines start with a space.
    if (!t.words.empty() && i < featReplyText.size() && featReplyText[i] == ' ' && EqualsNoCase(t.words[0], feature)) {
      return true;
    }
    i = j + 1;
  }
  return false;
}

std::optional<uint64_t> ParseSizeReply(std::string_view text) {
  const Tokens t = Tokenize(text);
  if (t.words.size() < 2 || t.words[0] != "213") return std::nullopt;
  return Number<uint64_t>(t.words[1]);
}

FileTime FileTimeFromCivil(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  constexpr int64_t kEpochDifference = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second + kEpochDifference;
  return FileTime::FromTicks(static_cast<uint64_t>(seconds * 10'000'000 + int64_t{millisecond} * 10'000));
}

std::optional<FileTime> ParseTimeVal(std::string_view text) {
  if (text.size() < 14) return std::nullopt;
  for (size_t i = 0; i < 14; ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
  }
  auto field = [&](size_t at, size_t len) { return *Number<int>(text.substr(at, len)); };
  const int year = field(0, 4), month = field(4, 2), day = field(6, 2);
  const int hour = field(8, 2), minute = field(10, 2), second = field(12, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  int millisecond = 0;
  if (text.size() > 14) {
    if (text[14] != '.' || text.size() == 15) return std::nullopt;
    std::string_view fraction = text.substr(15);
    if (!std::all_of(fraction.begin(), fraction.end(), IsDigit)) return std::nullopt;
    std::string ms(fraction.substr(0, 3));
    ms.resize(3, '0');
    millisecond = *Number<int>(ms);
  }
  return FileTimeFromCivil(year, month, day, hour, minute, second, millisecond);
}

std::optional<Entry> ParseMlstLine(std::string_view line) {
  if (!line.empty() && line[0] == ' ') line.remove_prefix(1);
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  Entry e;
  e.name = std::string(line.substr(space + 1));
  std::string_view facts = line.substr(0, space);
  bool typed = false;
  while (!facts.empty()) {
    size_t semi = facts.find(';');
    const std::string_view fact = facts.substr(0, semi);
    facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
    const size_t eq = fact.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = fact.substr(0, eq), value = fact.substr(eq + 1);
    if (EqualsNoCase(key, "type")) {
      typed = true;
      e.directory = EqualsNoCase(value, "dir") || EqualsNoCase(value, "cdir") || EqualsNoCase(value, "pdir");
    } else if (EqualsNoCase(key, "size") || (EqualsNoCase(key, "sizd") && !e.size)) {
      e.size = Number<uint64_t>(value);
    } else if (EqualsNoCase(key, "modify")) {
      e.modified = ParseTimeVal(value);
    }
  }
  if (!typed && e.name.empty()) return std::nullopt;
  return e;
}

std::optional<Entry> ParseMlstReply(std::string_view replyText) {
  // "250-Listing path\n type=file;... path\n250 End": the facts line is the one that starts with a space.
  size_t i = 0;
  while (i < replyText.size()) {
    size_t j = replyText.find('\n', i);
    if (j == std::string_view::npos) j = replyText.size();
    const std::string_view line = replyText.substr(i, j - i);
    if (!line.empty() && line[0] == ' ') return ParseMlstLine(line);
    i = j + 1;
  }
  return std::nullopt;
}

std::optional<Entry> ParseListLine(std::string_view line, const Today& today) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  const Tokens t = Tokenize(line);
  if (t.words.size() < 4) return std::nullopt;
  if (IsDigit(t.words[0][0])) return ParseDosLine(t);
  return ParseUnixLine(t, today);
}

std::string_view BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return {};
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view DirName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace kadroo::ftp
