#include "control/Text.h"

#include <new>
#include <utility>

namespace kadroo {

Text FromAscii(std::string_view ascii) { return Text(ascii.begin(), ascii.end()); }

TextView TrimSpaces(TextView text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == u' ') ++begin;
  while (end > begin && text[end - 1] == u' ') --end;
  return text.substr(begin, end - begin);
}

bool IsBlank(TextView text) { return TrimSpaces(text).empty(); }

char16_t ToLower(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if ((c >= 0x00C0 && c <= 0x00DE && c != 0x00D7)) return c + 32;
  if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) return c + 32;
  if (c >= 0x0410 && c <= 0x042F) return c + 32;
  if (c >= 0x0400 && c <= 0x040F) return c + 80;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

char16_t ToUpper(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if ((c >= 0x00E0 && c <= 0x00FE && c != 0x00F7)) return c - 32;
  if (c >= 0x03B1 && c <= 0x03CB && c != 0x03C2) return c - 32;
  if (c >= 0x0430 && c <= 0x044F) return c - 32;
  if (c >= 0x0450 && c <= 0x045F) return c - 80;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

Text ToLower(TextView text) {
  Text out(text);
  for (auto& c : out) c = ToLower(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

Text ToUpper(TextView text) {
  Text out(text);
  for (auto& c : out) c = ToUpper(c);
  return out;
}

Text Decimal(int64_t value) { return FromAscii(std::to_string(value)); }

Occurrences::Occurrences(Text needle) : needle_(std::move(needle)) {
  if (needle_.size() > UINT32_MAX) throw std::bad_alloc();
  border_.resize(needle_.size());
  for (uint32_t i = 1, k = 0; i < needle_.size(); ++i) {
    while (k > 0 && needle_[i] != needle_[k]) k = border_[k - 1];
    if (needle_[i] == needle_[k]) ++k;
    border_[i] = k;
  }
}

bool Occurrences::Next(char16_t c) {
  if (needle_.empty()) return true;
  if (matched_ == needle_.size()) matched_ = border_[matched_ - 1];
  while (matched_ > 0 && c != needle_[matched_]) matched_ = border_[matched_ - 1];
  if (c == needle_[matched_]) ++matched_;
  return matched_ == needle_.size();
}

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(Text& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one code point at `i`; returns false on malformed input.
bool DecodeUtf8(std::string_view s, size_t& i, char32_t& cp) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = byte(i);
  int extra;
  char32_t min;
  if (b0 < 0x80) { cp = b0; i += 1; return true; }
  if ((b0 & 0xE0) == 0xC0) { cp = b0 & 0x1F; extra = 1; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { cp = b0 & 0x0F; extra = 2; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { cp = b0 & 0x07; extra = 3; min = 0x10000; }
  else return false;
  if (i + extra >= s.size()) return false;
  for (int k = 1; k <= extra; ++k) {
    unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

template <bool kLossy>
std::optional<std::string> EncodeUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      if (!kLossy) return std::nullopt;
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

template <bool kLossy>
std::optional<Text> DecodeUtf8All(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t cp;
    if (!DecodeUtf8(bytes, i, cp)) {
      if (!kLossy) return std::nullopt;
      cp = 0xFFFD;
      ++i;
    }
    AppendUtf16(out, cp);
  }
  return out;
}

}  // namespace

std::optional<std::string> ToUtf8(TextView text) { return EncodeUtf8<false>(text); }
std::optional<Text> FromUtf8(std::string_view bytes) { return DecodeUtf8All<false>(bytes); }
std::string ToUtf8Lossy(TextView text) { return *EncodeUtf8<true>(text); }
Text FromUtf8Lossy(std::string_view bytes) { return *DecodeUtf8All<true>(bytes); }

}  // namespace kadroo
