#pragma once
// The JSON-RPC 2.0 face of one KadroOcx: one request (or batch) per line in, one response per line out, UTF-8.
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "control/KadroOcx.h"

namespace kadroo::jsonrpc {

enum ErrorCode : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kRuntimeError = -32000,
};

class Server {
 public:
  explicit Server(KadroOcx& control) : control_(control) {}
  // Answers one input line; nullopt when nothing is to be written (notifications, blank lines).
  std::optional<std::string> HandleLine(std::string_view line);

 private:
  std::optional<nlohmann::json> HandleRequest(const nlohmann::json& request);
  KadroOcx& control_;
};

// Converts the argument as automation converts a Variant for a text or 32-bit parameter.
// Raises RuntimeError 13 (type mismatch) or 6 (overflow) where automation would.
Text ArgumentAsText(const nlohmann::json& value);
int32_t ArgumentAsLong(const nlohmann::json& value);

}  // namespace kadroo::jsonrpc
