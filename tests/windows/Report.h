#pragma once
// How the test programs under Wine report: one line "ok NAME" or "FAIL NAME: detail" per check, in UTF-8, which
// the runners count; `failures` for the exit code.
#include <cstdio>
#include <string>

namespace kadroo::test {

inline int failures = 0;

inline bool Check(const std::string& name, bool passed, const std::string& detail = "") {
  if (passed) {
    std::printf("ok %s\n", name.c_str());
  } else {
    std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
    ++failures;
  }
  std::fflush(stdout);
  return passed;
}

}  // namespace kadroo::test
