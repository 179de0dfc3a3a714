// Prints the control's registration table for the server at MODULE (a Windows path) of PLATFORM (win32, win64),
// one "key TAB name TAB value" line per entry ("-" for a key alone), for the tests that compare the registry with
// it. Built natively: the table needs no platform headers.
#include <cstdio>
#include <string>

#include "host/windows/Registration.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string module = argv[1];
  const kadroo::registration::Placeholders<std::string> placeholders{
      module, module.substr(0, module.rfind('\\') + 1), argv[2]};
  for (const auto& entry : kadroo::registration::kEntries) {
    std::printf("%s\t%s\t%s\n", placeholders.Expand(entry.key).c_str(), entry.name ? entry.name : "-",
                entry.value ? placeholders.Expand(entry.value).c_str() : "-");
  }
  return 0;
}
