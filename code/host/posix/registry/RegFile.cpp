#include "host/posix/registry/RegFile.h"

#include <cstring>

namespace kadroo::posix {
namespace {

constexpr char16_t kVersion5[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kVersion4[] = u"REGEDIT4";
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;  // the registry's own limit; deeper trees would also exhaust the stack

enum class Format { kVersion5, kRegedit4 };

struct ParseFailure {
  RegParseError error;
};

[[noreturn]] void Fail(size_t line, std::string message) { throw ParseFailure{{line, std::move(message)}}; }

bool IsBlankChar(char16_t c) { return c == u' ' || c == u'\t'; }

TextView TrimLeft(TextView s) {
  while (!s.empty() && IsBlankChar(s.front())) s.remove_prefix(1);
  return s;
}

TextView TrimRight(TextView s) {
  while (!s.empty() && IsBlankChar(s.back())) s.remove_suffix(1);
  return s;
}

// What may follow a value's data: blanks and a comment.
bool IsEndOfLine(TextView rest) {
  rest = TrimLeft(rest);
  return rest.empty() || rest.front() == u';';
}

std::string Quote(TextView text) {
  std::string utf8 = ToUtf8Lossy(text.substr(0, 80));
  return "\"" + utf8 + (text.size() > 80 ? "...\"" : "\"");
}

std::string Utf16Bytes(TextView text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// Splits decoded text into lines at LF, dropping one CR before it; a final LF starts no further line.
std::vector<Text> SplitLines(TextView text) {
  std::vector<Text> lines;
  size_t start = 0;
  while (start < text.size() || (start == 0 && text.empty())) {
    size_t end = text.find(u'\n', start);
    if (end == TextView::npos) end = text.size();
    TextView line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

struct Decoded {
  std::vector<Text> lines;
  std::optional<RegParseError> error;  // the lines are then a best effort, for finding key names only
};

Decoded DecodeUtf16(std::string_view bytes) {
  Decoded out;
  Text text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  out.lines = SplitLines(text);
  if (bytes.size() % 2 != 0) out.error = RegParseError{out.lines.size(), "UTF-16 text ends in half a character"};
  return out;
}

Decoded DecodeByLine(std::string_view bytes, CodePage* codePage) {
  Decoded out;
  size_t start = 0;
  while (start < bytes.size() || (start == 0 && bytes.empty())) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (codePage != nullptr) {
      out.lines.push_back(codePage->FromAnsi(line));
    } else if (auto text = FromUtf8(line)) {
      out.lines.push_back(std::move(*text));
    } else {
      if (!out.error) out.error = RegParseError{out.lines.size() + 1, "invalid UTF-8"};
      out.lines.push_back(FromUtf8Lossy(line));
    }
    start = end + 1;
  }
  return out;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && bytes.substr(0, prefix.size()) == prefix;
}

Decoded Decode(std::string_view bytes, CodePage& codePage) {
  if (StartsWith(bytes, "\xFF\xFE")) return DecodeUtf16(bytes.substr(2));
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return DecodeByLine(bytes.substr(3), nullptr);
  if (StartsWith(bytes, "\xFE\xFF")) {
    Decoded out;
    out.error = RegParseError{0, "UTF-16 big-endian files are not supported; save as UTF-16LE or UTF-8"};
    return out;
  }
  if (StartsWith(bytes, "REGEDIT4")) return DecodeByLine(bytes, &codePage);
  return DecodeByLine(bytes, nullptr);
}

bool EqualsIgnoringCase(TextView a, TextView b) { return a.size() == b.size() && ToUpper(a) == ToUpper(b); }

// Parses the text between "[" and "]" of a key line, "-" already removed.
std::optional<RegKeyPath> ParseKeyPath(TextView path, std::string& why) {
  RegKeyPath key;
  if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  bool first = true;
  for (;;) {
    size_t end = path.find(u'\\', start);
    TextView name = path.substr(start, end == TextView::npos ? TextView::npos : end - start);
    if (first) {
      for (const auto& root : kRootKeyNames) {
        if (EqualsIgnoringCase(name, root.name)) key.root = root.key;
      }
      if (key.root == 0) {
        why = "unknown root key " + Quote(name);
        return std::nullopt;
      }
      first = false;
    } else if (name.empty()) {
      why = "empty key name in " + Quote(path);
      return std::nullopt;
    } else if (name.size() > kMaxKeyNameLength) {
      why = "key name longer than 255 characters";
      return std::nullopt;
    } else if (key.names.size() == kMaxKeyDepth) {
      why = "key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
      return std::nullopt;
    } else {
      key.names.emplace_back(name);
    }
    if (end == TextView::npos) break;
    start = end + 1;
  }
  return key;
}

// A key line "[path]" or "[-path]"; `line` starts with "[".
struct KeyLine {
  bool remove = false;
  RegKeyPath key;
};

std::optional<KeyLine> ParseKeyLine(TextView line, std::string& why) {
  const size_t close = line.rfind(u']');
  if (close == TextView::npos || !TrimLeft(line.substr(close + 1)).empty()) {
    why = "key line without a closing \"]\"";
    return std::nullopt;
  }
  TextView inner = line.substr(1, close - 1);
  KeyLine out;
  if (!inner.empty() && inner.front() == u'-') {
    out.remove = true;
    inner.remove_prefix(1);
  }
  auto key = ParseKeyPath(inner, why);
  if (!key) return std::nullopt;
  if (out.remove && key->names.empty()) {
    why = "a root key cannot be deleted";
    return std::nullopt;
  }
  out.key = std::move(*key);
  return out;
}

// A quoted text with the escapes \\ and \"; other backslashes stay as written. `s` starts after the opening
// quote and is left after the closing one.
std::optional<Text> ParseQuoted(TextView& s) {
  Text out;
  size_t i = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    if (c == u'"') {
      s.remove_prefix(i + 1);
      return out;
    }
    if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
      out += s[i + 1];
      i += 2;
      continue;
    }
    out += c;
    ++i;
  }
  return std::nullopt;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Up to eight hex digits; nullopt when there are none, more, or something else.
std::optional<uint32_t> ParseHexNumber(TextView digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char16_t c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return value;
}

bool ConsumePrefixIgnoringCase(TextView& s, TextView prefix) {
  if (s.size() < prefix.size() || !EqualsIgnoringCase(s.substr(0, prefix.size()), prefix)) return false;
  s.remove_prefix(prefix.size());
  return true;
}

class Parser {
 public:
  Parser(const std::vector<Text>& lines, Format format, CodePage& codePage)
      : lines_(lines), format_(format), codePage_(codePage) {}

  std::vector<RegStatement> Run() {
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      const TextView line = TrimLeft(lines_[index_]);
      if (line.empty() || line.front() == u';') continue;
      if (line.find(u'\0') != TextView::npos) Fail(LineNumber(), "NUL character in the file");
      if (line.front() == u'[') {
        KeyStatement(line);
      } else if (line.front() == u'"' || line.front() == u'@') {
        ValueStatement(line);
      } else {
        Fail(LineNumber(), "not a key, a value or a comment: " + Quote(line));
      }
    }
    return std::move(statements_);
  }

 private:
  size_t LineNumber() const { return index_ + 1; }

  void KeyStatement(TextView line) {
    std::string why;
    auto key = ParseKeyLine(line, why);
    if (!key) Fail(LineNumber(), why);
    RegStatement statement;
    statement.kind = key->remove ? RegStatement::Kind::kDeleteKey : RegStatement::Kind::kOpenKey;
    statement.line = LineNumber();
    statement.key = std::move(key->key);
    statements_.push_back(std::move(statement));
    // The registry editor skips values that follow a deleted key; so do we.
    state_ = key->remove ? KeyState::kDeleted : KeyState::kOpen;
  }

  void ValueStatement(TextView line) {
    const size_t lineNumber = LineNumber();
    if (state_ == KeyState::kNone) Fail(lineNumber, "value before the first key");
    RegStatement statement;
    statement.line = lineNumber;
    TextView rest = line;
    if (rest.front() == u'@') {
      rest.remove_prefix(1);
    } else {
      rest.remove_prefix(1);
      auto name = ParseQuoted(rest);
      if (!name) Fail(lineNumber, "value name without a closing quote");
      statement.name = std::move(*name);
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != u'=') Fail(lineNumber, "\"=\" expected after the value name");
    rest = TrimLeft(rest.substr(1));
    ValueData(rest, statement);
    if (state_ == KeyState::kOpen) statements_.push_back(std::move(statement));
  }

  void ValueData(TextView rest, RegStatement& statement) {
    const size_t lineNumber = LineNumber();
    if (!rest.empty() && rest.front() == u'-' && IsEndOfLine(rest.substr(1))) {
      statement.kind = RegStatement::Kind::kDeleteValue;
      return;
    }
    statement.kind = RegStatement::Kind::kSetValue;
    if (!rest.empty() && rest.front() == u'"') {
      rest.remove_prefix(1);
      auto text = ParseQuoted(rest);
      if (!text) Fail(lineNumber, "string value without a closing quote");
      if (!IsEndOfLine(rest)) Fail(lineNumber, "text after the closing quote: " + Quote(rest));
      statement.type = REG_SZ;
      statement.data = Utf16Bytes(*text + u'\0');
      return;
    }
    if (ConsumePrefixIgnoringCase(rest, u"dword:")) {
      const size_t end = rest.find_first_of(u" \t;");
      auto number = ParseHexNumber(rest.substr(0, end));
      if (!number || (end != TextView::npos && !IsEndOfLine(rest.substr(end)))) {
        Fail(lineNumber, "dword: takes one to eight hex digits");
      }
      statement.type = REG_DWORD;
      for (int shift = 0; shift < 32; shift += 8) statement.data += static_cast<char>((*number >> shift) & 0xFF);
      return;
    }
    if (ConsumePrefixIgnoringCase(rest, u"hex")) {
      statement.type = REG_BINARY;
      if (!rest.empty() && rest.front() == u'(') {
        const size_t close = rest.find(u')');
        auto type = close == TextView::npos ? std::nullopt : ParseHexNumber(rest.substr(1, close - 1));
        if (!type) Fail(lineNumber, "hex(n): takes a type of one to eight hex digits");
        statement.type = *type;
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest.front() != u':') Fail(lineNumber, "\":\" expected after hex");
      std::string bytes = HexBytes(rest.substr(1));
      if (IsStringType(statement.type) && format_ == Format::kRegedit4) {
        bytes = Utf16Bytes(codePage_.FromAnsi(bytes));
      }
      statement.data = std::move(bytes);
      return;
    }
    Fail(lineNumber, "unrecognised value data: " + Quote(rest));
  }

  // Comma-separated bytes, continued on the next line after a trailing backslash.
  std::string HexBytes(TextView first) {
    std::string bytes;
    TextView segment = first;
    for (;;) {
      const size_t comment = segment.find(u';');
      if (comment != TextView::npos) segment = segment.substr(0, comment);
      segment = TrimRight(segment);
      const bool continued = !segment.empty() && segment.back() == u'\\';
      if (continued) segment.remove_suffix(1);
      AppendHexList(segment, bytes);
      if (!continued) return bytes;
      do {
        if (index_ + 1 >= lines_.size()) Fail(LineNumber(), "the file ends inside a continued value");
        ++index_;
        segment = TrimLeft(lines_[index_]);
      } while (!segment.empty() && segment.front() == u';');
    }
  }

  void AppendHexList(TextView list, std::string& bytes) {
    size_t start = 0;
    while (start < list.size()) {
      size_t end = list.find(u',', start);
      const bool last = end == TextView::npos;
      if (last) end = list.size();
      const TextView item = TrimRight(TrimLeft(list.substr(start, end - start)));
      if (item.empty() && last) break;  // a trailing comma
      auto value = item.size() <= 2 ? ParseHexNumber(item) : std::nullopt;
      if (!value) Fail(LineNumber(), "bad byte in hex data: " + Quote(item));
      bytes += static_cast<char>(*value);
      start = end + 1;
    }
  }

  enum class KeyState { kNone, kOpen, kDeleted };

  const std::vector<Text>& lines_;
  Format format_;
  CodePage& codePage_;
  size_t index_ = 0;
  KeyState state_ = KeyState::kNone;
  std::vector<RegStatement> statements_;
};

std::vector<RegKeyPath> NamedKeys(const std::vector<Text>& lines) {
  std::vector<RegKeyPath> keys;
  for (const auto& raw : lines) {
    const TextView line = TrimLeft(raw);
    if (line.empty() || line.front() != u'[') continue;
    std::string why;
    if (auto key = ParseKeyLine(line, why)) keys.push_back(std::move(key->key));
  }
  return keys;
}

}  // namespace

RegFileContent ParseRegFile(std::string_view bytes, CodePage& codePage) {
  RegFileContent content;
  Decoded decoded = Decode(bytes, codePage);
  auto fail = [&](RegParseError error) {
    content.statements.clear();
    content.error = std::move(error);
    content.namedKeys = NamedKeys(decoded.lines);
    return content;
  };
  if (decoded.error) return fail(*decoded.error);
  const TextView header = decoded.lines.empty() ? TextView() : TrimRight(decoded.lines.front());
  Format format;
  if (header == kVersion5) {
    format = Format::kVersion5;
  } else if (header == kVersion4) {
    format = Format::kRegedit4;
  } else {
    return fail({1, "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or "
                    "\"REGEDIT4\""});
  }
  try {
    content.statements = Parser(decoded.lines, format, codePage).Run();
  } catch (const ParseFailure& failure) {
    return fail(failure.error);
  }
  return content;
}

}  // namespace kadroo::posix
