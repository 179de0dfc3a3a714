#pragma once
// Local paths on Linux: the page composes them the Windows way, so a backslash separates directories here too.
#include <optional>
#include <string>

#include "control/Platform.h"

namespace kadroo::posix {

// The path in the code page with every backslash made a slash; nullopt (and `error` set to 123 or 1113)
// when it holds a NUL or a character the code page cannot represent.
std::optional<std::string> ToLocalPath(CodePage& codePage, TextView path, int32_t* error = nullptr);

// $TMPDIR, else /tmp, ending in '/'.
std::string TemporaryDirectory();

// A platform error code for an errno value, as the Windows call would have left it.
int32_t ErrorFromErrno(int errnum);

}  // namespace kadroo::posix
