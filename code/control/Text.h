#pragma once
// UTF-16 text, as the control's strings are, and the few operations the core needs on it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kadroo {

using Text = std::u16string;
using TextView = std::u16string_view;

// Text literal helper: u"..." already is UTF-16; this turns ASCII-only narrow text into Text.
Text FromAscii(std::string_view ascii);

// Removes leading and trailing U+0020 only (a tab is not a space).
TextView TrimSpaces(TextView text);
bool IsBlank(TextView text);

// Letter case folding that keeps the length: ASCII, Latin-1, Greek, Cyrillic and full-width Latin letters.
char16_t ToLower(char16_t c);
char16_t ToUpper(char16_t c);
Text ToLower(TextView text);
Text ToUpper(TextView text);
// Bytes with A-Z in lower case and nothing else changed, whatever the locale (whose "I" may fold otherwise): for
// host names, schemes, method, charset and file names compared in any letter case.
std::string AsciiLower(std::string_view text);

// Decimal digits with a minus sign for negative numbers.
Text Decimal(int64_t value);

// Every occurrence of a text, in order, in another read one character at a time (Knuth-Morris-Pratt): at most
// two comparisons per character read and two per character of the needle, whatever the texts hold, where the
// standard library's search can take the product of their lengths on repetitive text.
class Occurrences {
 public:
  explicit Occurrences(Text needle);
  // Reads the next character; true when an occurrence of the needle ends with it.
  bool Next(char16_t c);

 private:
  Text needle_;
  std::vector<uint32_t> border_;  // border_[i]: the longest proper prefix of needle_[0..i] that is also its suffix
  size_t matched_ = 0;
};

// UTF-8 <-> UTF-16. Invalid input yields nullopt rather than replacement characters,
// so that a name is never silently changed.
std::optional<std::string> ToUtf8(TextView text);
std::optional<Text> FromUtf8(std::string_view bytes);
// The same, substituting U+FFFD for what cannot be decoded; for display only.
std::string ToUtf8Lossy(TextView text);
Text FromUtf8Lossy(std::string_view bytes);

}  // namespace kadroo
