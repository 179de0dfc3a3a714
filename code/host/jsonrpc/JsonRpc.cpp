#include "host/jsonrpc/JsonRpc.h"

#include "safety/ObjectSafety.h"
#include "control/ScriptedInterface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <functional>
#include <limits>

namespace kadroo::jsonrpc {
namespace {

using nlohmann::json;

// The arguments converted as the method's parameters declare them: 't' a text, 'n' a 32-bit number, 'r' the
// JSON value as it came (the container methods read identifiers from it).
class Arguments {
 public:
  Arguments(const json& params, std::string_view kinds) : params_(params) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      if (kinds[i] == 't') values_.emplace_back(ArgumentAsText(params.at(i)));
      if (kinds[i] == 'n') values_.emplace_back(ArgumentAsLong(params.at(i)));
      if (kinds[i] == 'r') values_.emplace_back(int32_t{0});
    }
  }
  const Text& text(size_t i) const { return std::get<Text>(values_.at(i)); }
  int32_t number(size_t i) const { return std::get<int32_t>(values_.at(i)); }
  const json& raw(size_t i) const { return params_.at(i); }
  const std::vector<CallArgument>& values() const { return values_; }

 private:
  const json& params_;
  std::vector<CallArgument> values_;
};

json FromText(const Text& text) { return ToUtf8Lossy(text); }

using Invoke = json (*)(KadroOcx&, const Arguments&);

struct Method {
  std::string_view name;
  std::string kinds;  // one letter for each parameter, as Arguments takes them
  Invoke invoke;
};

// The scripted interface's methods (control/ScriptedInterface.h), called in its order.
constexpr std::pair<std::string_view, Invoke> kScripted[] = {
    {"isInstalled", [](KadroOcx& c, const Arguments&) -> json { return c.isInstalled(); }},
    {"setparm",
     [](KadroOcx& c, const Arguments& a) -> json {
       c.setparm(a.text(0), a.text(1), a.number(2));
       return nullptr;
     }},
    {"getMoBanFile", [](KadroOcx& c, const Arguments&) { return FromText(c.getMoBanFile()); }},
    {"getLocalFile", [](KadroOcx& c, const Arguments&) { return FromText(c.getLocalFile()); }},
    {"setLocalFile", [](KadroOcx& c, const Arguments& a) -> json { return c.setLocalFile(a.text(0)); }},
    {"getRemoteFile", [](KadroOcx& c, const Arguments&) { return FromText(c.getRemoteFile()); }},
    {"getErrorMsg", [](KadroOcx& c, const Arguments&) { return FromText(c.getErrorMsg()); }},
    {"getTiShiMsg", [](KadroOcx& c, const Arguments&) { return FromText(c.getTiShiMsg()); }},
    {"getFile", [](KadroOcx& c, const Arguments& a) -> json { return c.getFile(a.text(0), a.text(1)); }},
    {"GetFileToFile", [](KadroOcx& c, const Arguments& a) -> json { return c.GetFileToFile(a.text(0), a.text(1)); }},
    {"saveFile", [](KadroOcx& c, const Arguments&) -> json { return c.saveFile(); }},
    {"PutFile", [](KadroOcx& c, const Arguments& a) -> json { return c.PutFile(a.text(0), a.text(1), a.number(2)); }},
    {"Dispose", [](KadroOcx& c, const Arguments&) -> json { return c.Dispose(); }},
    {"GetAllRegValue", [](KadroOcx& c, const Arguments& a) { return FromText(c.GetAllRegValue(a.text(0))); }},
    {"OpenExefile", [](KadroOcx& c, const Arguments& a) -> json { return c.OpenExefile(a.text(0), a.text(1)); }},
    {"OpenExefileByReg",
     [](KadroOcx& c, const Arguments& a) -> json {
       return c.OpenExefileByReg(a.text(0), a.text(1), a.text(2), a.text(3));
     }},
    {"GetErr", [](KadroOcx& c, const Arguments& a) { return FromText(c.GetErr(a.number(0), a.text(1))); }},
};

constexpr bool InInterfaceOrder() {
  if (std::size(kScripted) != std::size(scripted::kMethods)) return false;
  for (size_t i = 0; i < std::size(kScripted); ++i) {
    if (kScripted[i].first != scripted::kMethods[i].name) return false;
  }
  return true;
}
static_assert(InInterfaceOrder(), "one call for each method of the scripted interface, in its order");

std::vector<Method> ScriptedMethods() {
  std::vector<Method> methods;
  for (size_t i = 0; i < std::size(kScripted); ++i) {
    const ScriptedMethod& entry = scripted::kMethods[i];
    std::string kinds;
    for (size_t p = 0; p < entry.arity; ++p) kinds += entry.parameters[p].text ? 't' : 'n';
    methods.push_back({entry.name, std::move(kinds), kScripted[i].second});
  }
  return methods;
}

// What a container asks of the control outside its scripted interface: IObjectSafety, and the fields for
// whoever wants to look at the state between calls.
json IidArgument(const json& value, Guid& iid) {
  if (value.is_null()) return nullptr;
  auto parsed = value.is_string() ? GuidFromText(FromUtf8Lossy(value.get_ref<const std::string&>())) : std::nullopt;
  if (!parsed) throw RuntimeError(ErrorNumber::kTypeMismatch);
  iid = *parsed;
  return true;
}

json FindDataJson(const FindData& record) {
  return {{"attributes", record.dwFileAttributes},
          {"lastWriteTime", record.ftLastWriteTime.Ticks()},
          {"size", record.FileSize()},
          {"name", std::string(record.cFileName, strnlen(record.cFileName, sizeof record.cFileName))}};
}

const Method kContainerMethods[] = {
    {"IObjectSafety.GetInterfaceSafetyOptions", "r",
     [](KadroOcx&, const Arguments& a) -> json {
       Guid iid;
       const bool given = !IidArgument(a.raw(0), iid).is_null();
       const uint32_t untouched = 0xFFFFFFFF;
       uint32_t supported = 0;
       uint32_t enabled = untouched;
       const HResult hr = IObjectSafety_GetInterfaceSafetyOptions(given ? &iid : nullptr, &supported, &enabled);
       return {{"hresult", hr}, {"supported", supported}, {"enabled", enabled == untouched ? json() : json(enabled)}};
     }},
    {"IObjectSafety.SetInterfaceSafetyOptions", "rnn",
     [](KadroOcx&, const Arguments& a) -> json {
       Guid iid;
       const bool given = !IidArgument(a.raw(0), iid).is_null();
       const HResult hr = IObjectSafety_SetInterfaceSafetyOptions(given ? &iid : nullptr,
                                                                  static_cast<uint32_t>(a.number(1)),
                                                                  static_cast<uint32_t>(a.number(2)));
       return {{"hresult", hr}};
     }},
    {"kadrooa.fields", "",
     [](KadroOcx& c, const Arguments&) -> json {
       const KadroOcxState& s = c.state();
       return {{"hConnect", s.hConnect},          {"hInternet", s.hInternet},
               {"sUid", FromText(s.sUid)},         {"sServer", FromText(s.sServer)},
               {"sPort", FromText(s.sPort)},       {"sPass", FromText(s.sPass)},
               {"sRemoteFile", FromText(s.sRemoteFile)}, {"sLocalFile", FromText(s.sLocalFile)},
               {"sMobanFile", FromText(s.sMobanFile)},   {"sErrorMsg", FromText(s.sErrorMsg)},
               {"sParm", FromText(s.sParm)},       {"lConnectFlags", s.lConnectFlags},
               {"sTiShiMsg", FromText(s.sTiShiMsg)}, {"sLastLocalFile", FromText(s.sLastLocalFile)},
               {"tLastLocalFind", FindDataJson(s.tLastLocalFind)}};
     }},
};

bool SameName(std::string_view a, std::string_view b) { return AsciiLower(a) == AsciiLower(b); }

const Method* FindMethod(std::string_view name, bool containerMethods) {
  static const std::vector<Method> kMethods = ScriptedMethods();
  for (const auto& method : kMethods) {
    if (SameName(method.name, name)) return &method;
  }
  if (!containerMethods) return nullptr;
  for (const auto& method : kContainerMethods) {
    if (SameName(method.name, name)) return &method;
  }
  return nullptr;
}

// Requests are flat; anything nested deeper is refused before the parser and the copies below recurse into it.
constexpr size_t kMaxNesting = 64;

// The deepest nesting of arrays and objects in a JSON text, strings skipped.
size_t NestingDepth(std::string_view text) {
  size_t depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// Rounds half to even, as automation converts a floating-point number to an integer.
std::optional<int32_t> RoundToLong(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double rounded = std::nearbyint(value);
  if (rounded < std::numeric_limits<int32_t>::min() || rounded > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(rounded);
}

// A refused target as the page is told it: a path may be as long as a message, the refusal must stay well within
// what the browser carries back, so a long one keeps its first 4 KiB (whole UTF-8 characters) and an ellipsis.
std::string Shortened(const std::string& target) {
  constexpr size_t kKept = 4096;
  if (target.size() <= kKept) return target;
  size_t cut = kKept;
  while (cut > 0 && (static_cast<unsigned char>(target[cut]) & 0xC0) == 0x80) --cut;
  return target.substr(0, cut) + "\xE2\x80\xA6";  // …
}

std::optional<double> ParseNumber(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  size_t end = text.find_last_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  const std::string body = text.substr(begin, end - begin + 1);
  char* stop = nullptr;
  const double value = std::strtod(body.c_str(), &stop);
  if (stop != body.c_str() + body.size()) return std::nullopt;
  if (body.find_first_of("xXpP") != std::string::npos) return std::nullopt;  // no hex floats
  const std::string lower = AsciiLower(body);
  if (lower.find("inf") != std::string::npos || lower.find("nan") != std::string::npos) return std::nullopt;
  return value;
}

}  // namespace

json ErrorResponse(const json& id, int code, std::string message, const json* data) {
  json error = {{"code", code}, {"message", std::move(message)}};
  if (data) error["data"] = *data;
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(error)}};
}

Text ArgumentAsText(const json& value) {
  switch (value.type()) {
    case json::value_t::null: return Text();
    case json::value_t::string: return FromUtf8Lossy(value.get_ref<const std::string&>());
    case json::value_t::boolean: return value.get<bool>() ? u"-1" : u"0";
    case json::value_t::number_integer: return Decimal(value.get<int64_t>());
    case json::value_t::number_unsigned: return FromAscii(std::to_string(value.get<uint64_t>()));
    case json::value_t::number_float: {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.15G", value.get<double>());
      return FromAscii(buffer);
    }
    default: throw RuntimeError(ErrorNumber::kTypeMismatch);
  }
}

int32_t ArgumentAsLong(const json& value) {
  std::optional<double> number;
  switch (value.type()) {
    case json::value_t::null: return 0;
    case json::value_t::boolean: return value.get<bool>() ? -1 : 0;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: number = value.get<double>(); break;
    case json::value_t::string:
      number = ParseNumber(value.get_ref<const std::string&>());
      if (!number) throw RuntimeError(ErrorNumber::kTypeMismatch);
      break;
    default: throw RuntimeError(ErrorNumber::kTypeMismatch);
  }
  if (value.is_number_unsigned() && value.get<uint64_t>() > INT32_MAX) throw RuntimeError(ErrorNumber::kOverflow);
  if (value.is_number_integer() && (value.get<int64_t>() < INT32_MIN || value.get<int64_t>() > INT32_MAX)) {
    throw RuntimeError(ErrorNumber::kOverflow);
  }
  if (value.is_number_integer()) return static_cast<int32_t>(value.get<int64_t>());
  auto rounded = RoundToLong(*number);
  if (!rounded) throw RuntimeError(ErrorNumber::kOverflow);
  return *rounded;
}

std::optional<json> Server::HandleRequest(const json& request) {
  const bool hasId = request.is_object() && request.contains("id");
  json id = hasId ? request["id"] : json(nullptr);
  if (!request.is_object() || request.value("jsonrpc", json()) != "2.0" || !request.contains("method") ||
      !request["method"].is_string() || (hasId && !id.is_string() && !id.is_number() && !id.is_null())) {
    return ErrorResponse(hasId && (id.is_string() || id.is_number()) ? id : json(nullptr), kInvalidRequest,
                         "Invalid Request");
  }
  const json params = request.contains("params") ? request["params"] : json::array();
  const std::string& name = request["method"].get_ref<const std::string&>();
  const Method* method = FindMethod(name, options_.containerMethods);
  std::optional<json> response;
  if (method == nullptr) {
    response = ErrorResponse(id, kMethodNotFound, "Method not found: " + name);
  } else if (!params.is_array()) {
    response = ErrorResponse(id, kInvalidParams, "Invalid params: positional arguments expected");
  } else if (params.size() != method->kinds.size()) {
    response = ErrorResponse(id, kInvalidParams,
                             "Invalid params: " + std::string(method->name) + " takes " +
                                 std::to_string(method->kinds.size()) + " argument(s), " +
                                 std::to_string(params.size()) + " given");
  } else {
    try {
      const Arguments arguments(params, method->kinds);
      if (options_.beforeCall) options_.beforeCall(method->name, arguments.values(), id);
      response = json{{"jsonrpc", "2.0"}, {"id", id}, {"result", method->invoke(control_, arguments)}};
    } catch (const PolicyRefusal& refusal) {
      PolicyRefusal shown = refusal;
      shown.target = Shortened(refusal.target);
      const json data = {{"refused", shown.refused}, {"target", shown.target}};
      response = ErrorResponse(id, kRefusedByPolicy, RefusalText(shown), &data);
    } catch (...) {
      const RuntimeError error = ToRuntimeError(std::current_exception());
      const json data = {{"number", error.number()}};
      response = ErrorResponse(id, kRuntimeError, ToUtf8Lossy(error.description()), &data);
    }
    if (options_.afterCall) options_.afterCall();
  }
  if (!hasId) return std::nullopt;
  return response;
}

bool Server::Parse(std::string_view line, json& message, json& error) {
  // The parser stops at a NUL as at the end of the text, so whatever follows one would go unseen.
  if (line.find('\0') != std::string_view::npos) {
    error = ErrorResponse(nullptr, kParseError, "Parse error: NUL character in the line");
    return false;
  }
  if (NestingDepth(line) > kMaxNesting) {
    error = ErrorResponse(nullptr, kParseError, "Parse error: nested deeper than " + std::to_string(kMaxNesting) +
                                                    " levels");
    return false;
  }
  if (line.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    message = nullptr;
    return true;
  }
  message = json::parse(line, nullptr, false);
  if (message.is_discarded()) {
    error = ErrorResponse(nullptr, kParseError, "Parse error");
    return false;
  }
  return true;
}

std::string Server::Dump(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<json> Server::Handle(const json& message) {
  if (message.is_array()) {
    if (message.empty()) return ErrorResponse(nullptr, kInvalidRequest, "Invalid Request");
    json responses = json::array();
    for (const auto& item : message) {
      if (auto response = HandleRequest(item)) responses.push_back(std::move(*response));
    }
    if (responses.empty()) return std::nullopt;
    return responses;
  }
  return HandleRequest(message);
}

std::optional<std::string> Server::HandleLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return std::nullopt;
  json message, error;
  if (!Parse(line, message, error)) return Dump(error);
  auto response = Handle(message);
  if (!response) return std::nullopt;
  return Dump(*response);
}

}  // namespace kadroo::jsonrpc
