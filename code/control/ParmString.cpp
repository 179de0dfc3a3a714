#include "control/KadroOcx.h"

namespace kadroo {

Text KadroOcx::GetParmValue(TextView text, TextView key, TextView delimiter) {
  Text value;
  SkipOnError trap;
  trap.Run([&] {
    const Text wrapped = Text(delimiter) + Text(text) + Text(delimiter);
    // Folding keeps the length, so positions found in the lower-case copy hold in the original.
    const Text lower = ToLower(wrapped);
    const Text pattern = ToLower(delimiter) + ToLower(key) + u"=";
    const size_t found = Find(lower, pattern);
    if (found == Text::npos) return;
    const size_t start = found + pattern.size();
    const size_t end = Find(lower, ToLower(delimiter), start);
    if (end == Text::npos) return;
    value = wrapped.substr(start, end - start);
  });
  if (trap.IsPending()) return Text();
  return value;
}

}  // namespace kadroo
