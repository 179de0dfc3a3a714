// Prints the control's registration table, one "key TAB name TAB value" line per entry ("-" for a key alone), for
// the tests that compare the registry with it. Built natively: the table needs no platform headers.
#include <cstdio>

#include "com/Registration.h"

int main() {
  for (const auto& entry : kadroo::registration::kEntries) {
    std::printf("%s\t%s\t%s\n", entry.key, entry.name ? entry.name : "-", entry.value ? entry.value : "-");
  }
  return 0;
}
