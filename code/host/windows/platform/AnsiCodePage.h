#pragma once
// Text to and from the system's ANSI code page (CP_ACP), as the ANSI entry points take it.
#include <cstdint>
#include <optional>
#include <string>

#include "control/Platform.h"

namespace kadroo::windows {

class AnsiCodePage final : public CodePage {
 public:
  // nullopt when a character has no exact form in the code page: no best-fit substitute, no '?'.
  std::optional<std::string> ToAnsi(TextView text) override;
  // Bytes that do not decode become U+FFFD.
  Text FromAnsi(std::string_view bytes) override;
};

// The text as the wide entry points take it, NUL-terminated.
std::wstring ToWide(TextView text);

}  // namespace kadroo::windows
