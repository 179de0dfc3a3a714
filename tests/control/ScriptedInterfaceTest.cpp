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

// "[DISPID ]name kinds" for each match of `pattern` (groups: the DISPID where `dispids`, the name, the parameters),
// each parameter's kind from a word `kind` finds in them: a text (BSTR, string, s) or a number (long, number, n).
std::vector<std::string> Listed(const std::string& text, const char* pattern, const char* kind, bool dispids) {
  std::vector<std::string> out;
  const std::regex method(pattern), word(kind);
  for (std::sregex_iterator m(text.begin(), text.end(), method), end; m != end; ++m) {
    const std::string parameters = (*m)[dispids ? 3 : 2];
    std::string kinds;
    for (std::sregex_iterator k(parameters.begin(), parameters.end(), word); k != end; ++k) {
      kinds += k->str() == "long" || k->str() == "number" || k->str() == "n" ? 'n' : 't';
    }
    out.push_back((dispids ? (*m)[1].str() + " " : "") + (*m)[dispids ? 2 : 1].str() + " " + kinds);
  }
  return out;
}

TEST(ScriptedInterfaceTest, EveryListNamesTheSameMethods) {
  std::vector<std::string> table[2];  // without and with the DISPIDs
  for (const auto& method : scripted::kMethods) {
    std::string kinds;
    for (size_t i = 0; i < method.arity; ++i) kinds += method.parameters[i].text ? 't' : 'n';
    table[0].push_back(std::string(method.name) + " " + kinds);
    table[1].push_back(std::to_string(method.dispid) + " " + table[0].back());
  }
  const std::string mjs = Source("browser/lib/kadroo.mjs"), dts = Source("browser/lib/kadroo.d.ts");
  const std::string ocx = dts.substr(dts.find("export interface KadroOcx {"));
  const struct {
    const char* list;
    std::vector<std::string> methods;
    bool dispids;
  } kLists[] = {
      // The [out, retval] parameter is the result, no argument.
      {"KadroOA.idl",
       Listed(Source("code/host/windows/com/KadroOA.idl"),
              R"(\[id\((\d+)\)\]\s*HRESULT\s+(\w+)\(([^)]*?)(\[out, retval\][^)]*)?\))", R"(\b(BSTR|long)\b)", true),
       true},
      {"kadroo.mjs METHODS",
       Listed(mjs.substr(0, mjs.find("];", mjs.find("var METHODS"))), R"re(\["(\w+)", "([sn]*)"\])re", "[sn]", false),
       false},
      {"kadroo.d.ts KadroOcx",
       Listed(ocx.substr(0, ocx.find("\n}")), R"(\n  (\w+)\(([^)]*)\): Promise<)", R"(\b(string|number)\b)", false),
       false},
  };
  for (const auto& list : kLists) EXPECT_EQ(list.methods, table[list.dispids]) << list.list;
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
