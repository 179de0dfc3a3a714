#include "control/KadroOcx.h"

namespace kadroo {

// The entry is found in the text wrapped in the delimiter, so that the first entry is found like every other and
// the last value ends at a delimiter, with letters compared in lower case. The wrapped and lower-cased text is
// read one character at a time, never built: a page may pass texts and delimiters of many megabytes.
Text KadroOcx::GetParmValue(TextView text, TextView key, TextView delimiter) {
  Text value;
  SkipOnError trap;
  trap.Run([&] {
    if (delimiter.empty()) return;  // the value would end where it begins
    const size_t d = delimiter.size();
    const size_t wrappedSize = d + text.size() + d;
    const auto wrapped = [&](size_t i) {
      return i < d ? delimiter[i] : i < d + text.size() ? text[i - d] : delimiter[i - d - text.size()];
    };
    const Text keyed = ToLower(key) + u"=";
    Occurrences delimiters(ToLower(delimiter));
    size_t start = Text::npos;  // the value's first position, once a delimiter followed by the key was found
    for (size_t i = 0; i < wrappedSize; ++i) {
      if (!delimiters.Next(ToLower(wrapped(i)))) continue;
      const size_t after = i + 1;
      if (start == Text::npos) {
        size_t k = 0;
        while (k < keyed.size() && after + k < wrappedSize && ToLower(wrapped(after + k)) == keyed[k]) ++k;
        if (k == keyed.size()) start = after + k;
      } else if (after - d >= start) {
        value.reserve(after - d - start);
        for (size_t j = start; j < after - d; ++j) value += wrapped(j);
        return;
      }
    }
  });
  if (trap.IsPending()) return Text();
  return value;
}

}  // namespace kadroo
