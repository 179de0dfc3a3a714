// The administrator's policy for pages: servers compared as where the control connects, registry keys by whole
// components in any letter case, local paths after links and ".." are resolved.
#include <gtest/gtest.h>

#include <filesystem>

#include "policy/PolicyDocument.h"
#include "host/posix/AdminFiles.h"
#include "host/posix/PosixLocalFiles.h"
#include "host/posix/PosixPaths.h"
#include "policy/BridgePolicy.h"
#include "support/TempDir.h"

namespace kadroo {
namespace {

posix::LocaleCodePage utf8("UTF-8");
posix::PosixPaths paths(utf8);

SitePolicy Site(const std::string& json, const std::string& home = "/home/clerk") {
  auto policy = ParsePolicy(R"({"sites":{"https://oa":)" + json + "}}", home, paths, "policy.json");
  EXPECT_TRUE(policy.loaded()) << policy.problem;
  return policy.loaded() ? policy.policy.sites.at("https://oa") : SitePolicy{};
}

bool Server(const SitePolicy& site, TextView parm) {
  auto target = ConnectionTarget(parm);
  return target && AllowsFtpServer(site, *target);
}

TEST(BridgePolicyTest, ServersCompareAsHostAndPort) {
  const SitePolicy site = Site(R"({"ftpServers":["Files.Example.org:2121","plain.example.org","[::1]:2100"]})");
  for (TextView allowed : {u"files.example.org:2121", u"FILES.example.ORG:02121", u"files.example.org:2121.4",
                           u"files.example.org:&H849", u"plain.example.org", u"plain.example.org:21",
                           u"plain.example.org:0", u"[0:0::1]:2100", u"[::0.0.0.1]:2100"}) {
    EXPECT_TRUE(Server(site, allowed)) << ToUtf8Lossy(allowed);
  }
  for (TextView refused : {u"files.example.org", u"files.example.org:21", u"files.example.org.evil:2121",
                           u"plain.example.org:2121", u"plain.example.org:99999", u"[::1]", u"::1:2100",
                           u"[::2]:2100", u":2121", u"evil@files.example.org:2121"}) {
    EXPECT_FALSE(Server(site, refused)) << ToUtf8Lossy(refused);
  }
  EXPECT_FALSE(ConnectionTarget(u"").has_value()) << "an empty server connects nowhere";
  for (const char* bad : {"files.example.org:", "files.example.org:65536", "[::1", "[zz::1]:21", "a b:21", ":21"}) {
    EXPECT_FALSE(ParseFtpServerEntry(bad).has_value()) << bad;
    EXPECT_EQ(ParsePolicy(std::string(R"({"sites":{"https://oa":{"ftpServers":[")") + bad + "\"]}}}", "/", paths, "p").status,
              PolicyLoad::Status::kRefused)
        << "one bad entry refuses the whole policy";
  }
}

TEST(BridgePolicyTest, MistakesRefuseTheWholePolicyWithANote) {
  const struct {
    const char* text;
    const char* note;
  } mistakes[] = {
      {R"({"sites":{},"ftpServers":["x"]})", "unknown key \"ftpServers\""},
      {R"({"site":{"https://oa":{}}})", "unknown key \"site\""},
      {R"({"sites":{"https://oa":{}},"sites":{}})", "\"sites\" is given twice"},
      {R"({"sites":{"https://oa":{"programs":[]},"https://oa":{}}})", "\"https://oa\" is given twice"},
      {R"({"sites":{"https://oa":{"programs":[],"programs":[]}}})", "\"programs\" is given twice"},
      {R"({"sites":{"https://OA.example.org":{}}})", "https://OA.example.org: not an origin"},
      {R"({"sites":{"https://oa/":{}}})", "https://oa/: not an origin"},
      {R"({"sites":{"https://oa/office":{}}})", "https://oa/office: not an origin"},
      {R"({"sites":{"https://oa:443":{}}})", "https://oa:443: not an origin"},
      {R"({"sites":{"*":{}}})", "*: not an origin"},
      {R"({"sites":{"oa.example.org":{}}})", "oa.example.org: not an origin"},
      {R"({"sites":{"file:///srv/oa":{}}})", "file:///srv/oa: not an origin"},
      {R"({"sites":{"null":{}}})", "null: not an origin"},
  };
  for (const auto& mistake : mistakes) {
    const PolicyLoad policy = ParsePolicy(mistake.text, "/h", paths, "policy.json");
    EXPECT_EQ(policy.status, PolicyLoad::Status::kRefused) << mistake.text;
    EXPECT_NE(policy.problem.find(std::string("policy.json: ") + mistake.note), std::string::npos)
        << mistake.text << " gave " << policy.problem;
  }
  for (const char* good : {R"({"sites":{"http://127.0.0.1:8080":{},"https://oa.example.org":{},"http://[::1]:81":{}}})",
                           R"({})", R"({"sites":{}})"}) {
    EXPECT_TRUE(ParsePolicy(good, "/h", paths, "policy.json").loaded()) << good;
  }
}

TEST(BridgePolicyTest, RegistryKeysArePrefixesOfWholeComponents) {
  const SitePolicy site = Site(R"({"registryKeys":["HKLM\\SOFTWARE\\Example\\Editor\\"]})");
  for (TextView allowed : {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor", u"hkey_local_machine\\software\\EXAMPLE\\editor\\",
                           u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor\\Sub\\Deeper"}) {
    EXPECT_TRUE(AllowsRegistryKey(site, allowed)) << ToUtf8Lossy(allowed);
  }
  for (TextView refused : {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\EditorX", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Example",
                           u"HKEY_CURRENT_USER\\SOFTWARE\\Example\\Editor", u"HKLM\\SOFTWARE\\Example\\Editor",
                           u"HKEY_LOCAL_MACHINE", u""}) {
    EXPECT_FALSE(AllowsRegistryKey(site, refused)) << ToUtf8Lossy(refused);
  }
}

TEST(BridgePolicyTest, LocalPathsAndProgramsAfterLinksAndDots) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  fs::create_directories(dir / "home/OA/sub");
  fs::create_directories(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "home/Docs");       // a listed folder that is a link
  fs::create_directory_symlink("/etc", dir / "home/OA/out");           // a link inside that leads out
  fs::create_symlink(dir / "nowhere", dir / "home/OA/dangling");
  const SitePolicy site =
      Site(R"({"localFolders":["~/OA","~\\Docs\\"],"programs":["~/OA/sub/../editor"]})", (dir / "home").string());
  const std::string home = (dir / "home").string();
  for (std::string allowed : {"/OA/new.doc", "/OA/sub/x.doc", "/OA/sub/../y.doc", "/Docs/z.doc", "/../home/OA/a"}) {
    auto resolved = posix::ResolvePath(home + allowed);
    EXPECT_TRUE(resolved && AllowsLocalPath(site, *resolved)) << allowed;
  }
  EXPECT_TRUE(AllowsLocalPath(site, *posix::ResolvePath((dir / "real/w.doc").string())));
  for (std::string refused : {"/OA", "/OA/../x.doc", "/OA/out/passwd", "/OA/out/new", "/OA/dangling",
                              "/OA/missing/x.doc", "/OAX/x.doc"}) {
    auto resolved = posix::ResolvePath(home + refused);
    EXPECT_FALSE(resolved && AllowsLocalPath(site, *resolved)) << refused;
  }
  EXPECT_TRUE(AllowsProgram(site, *posix::ResolveFolderOf(home + "/OA/editor")));
  EXPECT_TRUE(AllowsProgram(site, *posix::ResolveFolderOf(home + "/../home/OA/./editor")));
  EXPECT_FALSE(AllowsProgram(site, *posix::ResolveFolderOf(home + "/OA/sub/editor")));
  EXPECT_FALSE(AllowsProgram(site, *posix::ResolveFolderOf(home + "/OA/editor2")));
}

TEST(BridgePolicyTest, WindowsFoldersSeparateByBackslash) {
  SitePolicy site;
  site.localFolders = {"c:\\users\\clerk\\oa", "d:\\"};
  for (const char* allowed : {"c:\\users\\clerk\\oa\\p.doc", "c:\\users\\clerk\\oa\\sub\\p.doc", "d:\\x"}) {
    EXPECT_TRUE(AllowsLocalPath(site, allowed)) << allowed;
  }
  for (const char* refused : {"c:\\users\\clerk\\oa", "c:\\users\\clerk\\oax\\p.doc", "c:\\users\\clerk\\oa/p.doc",
                              "d:\\", "c:\\users\\clerk"}) {
    EXPECT_FALSE(AllowsLocalPath(site, refused)) << refused;
  }
  EXPECT_EQ(ParsePolicy(R"({"sites":{"https://oa":{"localFolders":["OA"]}}})", "/h", paths, "p").status,
            PolicyLoad::Status::kRefused)
      << "a relative folder refuses the whole policy";
}

}  // namespace
}  // namespace kadroo
