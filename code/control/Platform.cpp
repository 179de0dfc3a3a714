#include "control/Platform.h"

namespace kadroo {

int32_t CompareFileTime(const FileTime& first, const FileTime& second) {
  if (first.Ticks() < second.Ticks()) return -1;
  if (first.Ticks() > second.Ticks()) return 1;
  return 0;
}

}  // namespace kadroo
