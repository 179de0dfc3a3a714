#pragma once
// Tables shared by the unit tests and the black-box tests of kadrooa, kept as JSON in tests/data.
#include <fstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "control/Text.h"

namespace kadroo::testing {

inline nlohmann::json LoadTestData(const std::string& name) {
  const std::string path = std::string(KADROOA_TEST_DATA) + "/" + name;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  return nlohmann::json::parse(in);
}

inline Text JsonText(const nlohmann::json& value) { return FromUtf8Lossy(value.get<std::string>()); }

}  // namespace kadroo::testing
