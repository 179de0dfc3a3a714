// The scripted interface is described once (control/ScriptedInterface.h): the type library, kadroo.js and its
// declarations list the same methods, and the policy's gate refuses a method that the description does not know.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "control/ScriptedInterface.h"
#include "host/posix/PosixPaths.h"
#include "policy/PolicySession.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

std::string Source(const std::string& path) {
  std::ifstream file(std::string(KADROOA_TEST_DATA) + "/../../" + path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_FALSE(text.str().empty()) << path;
  return text.str();
}

// "DISPID name kinds" for each match of `pattern` (groups: the DISPID where it has one, name, parameters),
// a parameter's kind read by `kind` ('t', 'n', or 0 for one that is not an argument); without `kind` the
// parameters are kadroo.js's letters ('s' a text, 'n' a number).
std::vector<std::string> Listed(const std::string& text, const std::regex& pattern, char (*kind)(const std::string&),
                                bool dispids) {
  std::vector<std::string> out;
  for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m) {
    const int at = dispids ? 1 : 0;
    std::string kinds;
    std::string parameter;
    int depth = 0;
    for (char c : (*m)[2 + at].str() + ",") {  // split at the commas outside an IDL's [attributes]
      depth += c == '[' ? 1 : c == ']' ? -1 : 0;
      if (c != ',' || depth > 0) {
        parameter += c;
        continue;
      }
      if (const char k = kind ? kind(parameter) : 0) kinds += k;
      parameter.clear();
    }
    for (char letter : kind ? "" : (*m)[2].str()) kinds += letter == 's' ? 't' : letter;
    out.push_back((dispids ? (*m)[1].str() + " " : "") + (*m)[1 + at].str() + " " + kinds);
  }
  return out;
}

TEST(ScriptedInterfaceTest, EveryListNamesTheSameMethods) {
  const auto kindOf = [](bool dispids) {
    std::vector<std::string> out;
    for (const auto& method : scripted::kMethods) {
      std::string kinds;
      for (size_t i = 0; i < method.arity; ++i) kinds += method.parameters[i].text ? 't' : 'n';
      out.push_back((dispids ? std::to_string(method.dispid) + " " : "") + std::string(method.name) + " " + kinds);
    }
    return out;
  };
  const std::string mjs = Source("browser/lib/kadroo.mjs");
  const std::string dts = Source("browser/lib/kadroo.d.ts");
  const std::string ocx = dts.substr(dts.find("export interface KadroOcx {"));
  const struct {
    const char* list;
    std::vector<std::string> methods;
    bool dispids;
  } kLists[] = {
      {"KadroOA.idl",
       Listed(Source("code/host/windows/com/KadroOA.idl"), std::regex(R"(\[id\((\d+)\)\]\s*HRESULT\s+(\w+)\(([^)]*)\))"),
              [](const std::string& p) -> char {
                return p.find("retval") != std::string::npos ? 0 : p.find("BSTR") != std::string::npos ? 't' : 'n';
              },
              true),
       true},
      {"kadroo.mjs METHODS",
       Listed(mjs.substr(0, mjs.find("];", mjs.find("var METHODS"))), std::regex(R"re(\["(\w+)", "([sn]*)"\])re"),
              nullptr, false),
       false},
      {"kadroo.d.ts KadroOcx",
       Listed(ocx.substr(0, ocx.find("\n}")), std::regex(R"(\n  (\w+)\(([^)]*)\): Promise<)"),
              [](const std::string& p) -> char {
                return p.find("string") != std::string::npos ? 't' : p.find("number") != std::string::npos ? 'n' : 0;
              },
              false),
       false},
  };
  for (const auto& list : kLists) EXPECT_EQ(list.methods, kindOf(list.dispids)) << list.list;
}

TEST(ScriptedInterfaceTest, TheGateRefusesWhatTheInterfaceDoesNotKnowWithNothingDone) {
  testing::FakePlatform fake;
  posix::PosixPaths paths(fake.codePage);
  SitePolicy everything{.ftpServers = {{"127.0.0.1", 21}}, .programs = {"/bin/sh"},
                        .registryKeys = {u"HKEY_LOCAL_MACHINE"}, .localFolders = {"/"}};
  PolicyLoad policy{.status = PolicyLoad::Status::kLoaded, .policy = {.sites = {{"https://oa", everything}}}};
  PolicySession gate(fake.platform, paths);
  ASSERT_TRUE(gate.Open(policy, "https://oa"));
  const struct {
    const char* method;
    std::vector<CallArgument> args;
  } kUnknown[] = {
      {"DeleteAllFiles", {Text(u"/tmp/x")}},
      {"setParm", {Text(u"path=127.0.0.1"), Text(u";"), int32_t{1}}},  // names compare exactly
      {"OpenExefile", {Text(u"/bin/sh")}},                              // one argument short
  };
  for (const auto& call : kUnknown) {
    try {
      gate.BeforeCall(call.method, call.args);
      ADD_FAILURE() << call.method << " was let through";
    } catch (const PolicyRefusal& refusal) {
      EXPECT_EQ(refusal.refused + " " + refusal.target, std::string("method ") + call.method);
    }
    gate.AfterCall();
  }
  gate.BeforeCall("OpenExefile", {Text(u"/bin/sh"), Text(u"")});  // a known one goes on
  gate.AfterCall();
  EXPECT_TRUE(fake.ftp.log.empty() && fake.files.files.empty() && fake.processes.applications.empty());
}

}  // namespace
}  // namespace kadroo
