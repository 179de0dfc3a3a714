#pragma once
// The system's directory record as the control's.
#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

// Copies the system's record into the control's, field by field.
FindData ToFindData(const WIN32_FIND_DATAA& found);

}  // namespace kadroo::windows
