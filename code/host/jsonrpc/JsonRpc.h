#pragma once
// The JSON-RPC 2.0 face of one KadroOcx: one request (or batch) per line in, one response per line out, UTF-8.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "control/KadroOcx.h"
#include "policy/PolicySession.h"

namespace kadroo::jsonrpc {

enum ErrorCode : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kRuntimeError = -32000,
  kResponseTooLarge = -32003,
  kRefusedByPolicy = -32010,
  kHandshakeRequired = -32011,
  kAwaitingAnswer = -32012,
};

struct ServerOptions {
  // IObjectSafety and the fields, besides the scripted interface.
  bool containerMethods = true;
  // Runs before each method, with its own name, the arguments converted as the method takes them and the
  // request's id; may raise PolicyRefusal (answered -32010) or RuntimeError, and the method is then not called.
  std::function<void(std::string_view method, const std::vector<CallArgument>& args, const nlohmann::json& id)>
      beforeCall;
  std::function<void()> afterCall;
};

class Server {
 public:
  explicit Server(KadroOcx& control, ServerOptions options = {}) : control_(control), options_(std::move(options)) {}
  // Answers one input line; nullopt when nothing is to be written (notifications, blank lines).
  std::optional<std::string> HandleLine(std::string_view line);
  // Parses one message into `message`; false with the error response in `error` when it is not JSON, or
  // is refused before parsing (a NUL, nesting too deep). A blank text parses as null.
  static bool Parse(std::string_view text, nlohmann::json& message, nlohmann::json& error);
  // Answers a parsed request or batch; nullopt when nothing is to be written.
  std::optional<nlohmann::json> Handle(const nlohmann::json& message);
  static std::string Dump(const nlohmann::json& message);

 private:
  std::optional<nlohmann::json> HandleRequest(const nlohmann::json& request);
  KadroOcx& control_;
  ServerOptions options_;
};

nlohmann::json ErrorResponse(const nlohmann::json& id, int code, std::string message,
                             const nlohmann::json* data = nullptr);

// Converts the argument as automation converts a Variant for a text or 32-bit parameter.
// Raises RuntimeError 13 (type mismatch) or 6 (overflow) where automation would.
Text ArgumentAsText(const nlohmann::json& value);
int32_t ArgumentAsLong(const nlohmann::json& value);

}  // namespace kadroo::jsonrpc
