#include "control/Platform.h"

#include <utility>

namespace kadroo {

int32_t CompareFileTime(const FileTime& first, const FileTime& second) {
  if (first.Ticks() < second.Ticks()) return -1;
  if (first.Ticks() > second.Ticks()) return 1;
  return 0;
}

int32_t ToAnsiArgument(CodePage& codePage, TextView text, LineBreaks lineBreaks, std::string& out) {
  const bool refused = lineBreaks == LineBreaks::kRefused;
  for (char16_t c : text) {
    if (c == u'\0' || (refused && (c == u'\r' || c == u'\n'))) return ERROR_INVALID_NAME;
  }
  auto bytes = codePage.ToAnsi(text);
  if (!bytes) return ERROR_NO_UNICODE_TRANSLATION;
  out = std::move(*bytes);
  return 0;
}

bool ToAnsiArgument(LastError& lastError, CodePage& codePage, TextView text, LineBreaks lineBreaks, std::string& out) {
  const int32_t error = ToAnsiArgument(codePage, text, lineBreaks, out);
  return error == 0 || Refuse(lastError, error, false);
}

}  // namespace kadroo
