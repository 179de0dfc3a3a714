#pragma once
// The control's scripted interface, described once: each method's name and DISPID in the order of the type
// library, and each parameter's kind with what it names for the administrator's policy. The JSON-RPC host and
// the policy's gate are built from it; the type library (KadroOA.idl), kadroo.js and its declarations are held to
// it by tests/control/ScriptedInterfaceTest.cpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kadroo {

// What an argument names that the policy decides on.
enum class PolicyTarget : uint8_t {
  kNone,
  kLocalPath,             // a local file
  kLocalPathUnlessEmpty,  // a local file; an empty text keeps the control's own
  kRegistryKey,           // a registry key
  kParmServer,            // the FTP server in a parameter string, read with the next two arguments as setparm does
  kProgram,               // a program: the one the call would start is checked when it is about to start
};

struct Parameter {
  bool text;  // a text, or else a 32-bit number
  PolicyTarget target;
};
// A text states what it names, kNone included; a number names nothing.
constexpr Parameter TextNaming(PolicyTarget target) { return {true, target}; }
inline constexpr Parameter kNumber{false, PolicyTarget::kNone};

struct ScriptedMethod {
  template <typename... P>
  constexpr ScriptedMethod(std::string_view name, int32_t dispid, P... parameters)
      : name(name), dispid(dispid), arity(sizeof...(P)), parameters{parameters...} {}
  std::string_view name;
  int32_t dispid;
  size_t arity;
  std::array<Parameter, 4> parameters;
};

namespace scripted {
constexpr Parameter kText = TextNaming(PolicyTarget::kNone);
constexpr Parameter kPath = TextNaming(PolicyTarget::kLocalPath);
inline constexpr ScriptedMethod kMethods[] = {
    {"isInstalled", 1},
    {"setparm", 2, TextNaming(PolicyTarget::kParmServer), kText, kNumber},
    {"getMoBanFile", 3},
    {"getLocalFile", 4},
    {"setLocalFile", 5, kPath},
    {"getRemoteFile", 6},
    {"getErrorMsg", 7},
    {"getTiShiMsg", 8},
    {"getFile", 9, kText, kText},
    {"GetFileToFile", 10, kText, kPath},
    {"saveFile", 11},
    {"PutFile", 12, TextNaming(PolicyTarget::kLocalPathUnlessEmpty), kText, kNumber},
    {"Dispose", 13},
    {"GetAllRegValue", 14, TextNaming(PolicyTarget::kRegistryKey)},
    {"OpenExefile", 15, TextNaming(PolicyTarget::kProgram), kText},
    {"OpenExefileByReg", 16, TextNaming(PolicyTarget::kRegistryKey), kText, kText,
     TextNaming(PolicyTarget::kProgram)},
    {"GetErr", 17, kNumber, kText},
};
}  // namespace scripted

// The method of that exact name; nullptr when the interface has none.
constexpr const ScriptedMethod* FindScriptedMethod(std::string_view name) {
  for (const auto& method : scripted::kMethods) {
    if (method.name == name) return &method;
  }
  return nullptr;
}

}  // namespace kadroo
