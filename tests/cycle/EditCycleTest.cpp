// The control over the real Linux platform against a real vsftpd, in active and passive mode.
#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "support/RealPlatform.h"
#include "support/VsftpdServer.h"

namespace kadroo::testing {
namespace {

namespace fs = std::filesystem;

Text T(const std::string& s) { return FromUtf8Lossy(s); }
std::string N(const Text& s) { return ToUtf8Lossy(s); }

class EditCycleTest : public ::testing::TestWithParam<int32_t> {
 protected:
  EditCycleTest() { Configure(); }
  void Configure(const std::string& server = "") {
    const std::string address = server.empty() ? "127.0.0.1:" + std::to_string(vsftpd.port()) : server;
    control.setparm(T("uid=" + vsftpd.user() + ";path=" + address + ";pass=" + vsftpd.password()), u";", GetParam());
  }
  std::vector<std::string> ServerListing(const std::string& dir) { return Listing(vsftpd.Path(dir)); }

  VsftpdServer vsftpd;
  RealPlatform real;
  KadroOcx control{real.platform};
};

TEST_P(EditCycleTest, FetchEditAndPutBack) {
  vsftpd.WriteFile("docs/report.doc", "报告 v1");
  vsftpd.WriteFile("tpl/red.dot", "模板");
  ASSERT_EQ(control.getFile(u"docs/report.doc", u"tpl/red.dot"), 1) << N(control.getErrorMsg());
  const fs::path document = N(control.getLocalFile());
  const fs::path templ = N(control.getMoBanFile());
  EXPECT_EQ(document.parent_path(), real.temp.path());
  EXPECT_EQ(document.filename().string().substr(0, 3), "kad");
  EXPECT_EQ(templ.filename().string().substr(0, 3), "oam");
  EXPECT_EQ(ReadWholeFile(document), "报告 v1");
  EXPECT_EQ(ReadWholeFile(templ), "模板");
  EXPECT_EQ(control.state().tLastLocalFind.FileSize(), 9u);

  WriteWholeFile(document, "报告 v2, edited");
  Touch(document);
  ASSERT_EQ(control.saveFile(), 1) << N(control.getErrorMsg());
  EXPECT_TRUE(real.prompt.shown.empty());
  EXPECT_EQ(vsftpd.ReadFile("docs/report.doc"), "报告 v2, edited");
  EXPECT_EQ(vsftpd.ReadFile("docs/report.doc.old"), "报告 v1");
  EXPECT_EQ(ServerListing("docs"), (std::vector<std::string>{"report.doc", "report.doc.old"}));
  EXPECT_FALSE(fs::exists(document));
  EXPECT_FALSE(fs::exists(templ));
  EXPECT_EQ(control.getLocalFile(), u"");
  EXPECT_EQ(control.state().hConnect, 0);
}

TEST_P(EditCycleTest, RepeatedUploadsLeaveOneBackup) {
  const fs::path local = real.temp / "doc.txt";
  for (const char* version : {"first", "second", "third"}) {
    WriteWholeFile(local, version);
    Configure();
    ASSERT_EQ(control.PutFile(T(local), u"p/doc.txt", 0), 1) << version << ": " << N(control.getErrorMsg());
    EXPECT_EQ(vsftpd.ReadFile("p/doc.txt"), version);
  }
  EXPECT_EQ(vsftpd.ReadFile("p/doc.txt.old"), "second");
  EXPECT_EQ(ServerListing("p"), (std::vector<std::string>{"doc.txt", "doc.txt.old"}));
  EXPECT_TRUE(fs::exists(local)) << "PutFile keeps the local file unless asked";
}

TEST_P(EditCycleTest, UnchangedDocumentWarnsAndIsUploaded) {
  vsftpd.WriteFile("a.doc", "same");
  ASSERT_EQ(control.getFile(u"a.doc", u""), 1);
  ASSERT_EQ(control.saveFile(), 1) << N(control.getErrorMsg());
  ASSERT_EQ(real.prompt.shown.size(), 1u);
  EXPECT_EQ(real.prompt.shown[0].rfind("提示信息：要上传的文件和原来的文件最后修改时间一样", 0), 0u);
  EXPECT_EQ(vsftpd.ReadFile("a.doc.old"), "same");
}

TEST_P(EditCycleTest, MissingRemoteFile) {
  EXPECT_EQ(control.getFile(u"docs/none.doc", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"服务器文件或文件夹不存在或拒绝访问。\r\n文件不存在或没有更多文件\r\n错误号：18");
  EXPECT_TRUE(fs::exists(N(control.getLocalFile()))) << "the empty temporary file stays for Dispose";
  control.Dispose();
  EXPECT_FALSE(fs::exists(N(control.getLocalFile())));
}

TEST_P(EditCycleTest, RemoteDirectory) {
  vsftpd.MakeDirectory("docs/sub");
  EXPECT_EQ(control.GetFileToFile(u"docs/sub", T(real.temp / "x")), -1);
  EXPECT_EQ(control.getErrorMsg().rfind(u"Target is a folder， but a file name is needed？\r\n", 0), 0u)
      << N(control.getErrorMsg());
}

TEST_P(EditCycleTest, WrongPassword) {
  control.setparm(T("uid=" + vsftpd.user() + ";path=127.0.0.1:" + std::to_string(vsftpd.port()) + ";pass=wrong"),
                  u";", GetParam());
  EXPECT_EQ(control.getFile(u"a.doc", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"无法连接和登录文件服务器，用户名或密码不正确\r\n错误号：12014");
}

TEST_P(EditCycleTest, ClosedPort) {
  Configure("127.0.0.1:" + std::to_string(VsftpdServer::FreePort(20000, 30000)));
  EXPECT_EQ(control.getFile(u"a.doc", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"Attempt to connect to the server failed.\r\n错误号：12029");
}

TEST_P(EditCycleTest, ServerByNameAndPort) {
  vsftpd.WriteFile("a.doc", "by name");
  Configure("localhost:" + std::to_string(vsftpd.port()));
  ASSERT_EQ(control.GetFileToFile(u"a.doc", T(real.temp / "a")), 1) << N(control.getErrorMsg());
  EXPECT_EQ(ReadWholeFile(real.temp / "a"), "by name");
  EXPECT_EQ(control.state().sServer, u"localhost");
}

TEST_P(EditCycleTest, NewRemoteDirectoryIsCreated) {
  WriteWholeFile(real.temp / "n.doc", "new");
  ASSERT_EQ(control.PutFile(T(real.temp / "n.doc"), u"fresh/n.doc", 1), 1) << N(control.getErrorMsg());
  EXPECT_EQ(vsftpd.ReadFile("fresh/n.doc"), "new");
  EXPECT_FALSE(vsftpd.Exists("fresh/n.doc.old"));
  EXPECT_FALSE(fs::exists(real.temp / "n.doc"));
}

// Two clerks at two controls fetch one document and both save it: the later save keeps the earlier one's version
// under a name of its own and tells its clerk; nothing is lost, then or at the next save.
TEST_P(EditCycleTest, TwoClerksSaveTheSameDocument) {
  RealPlatform otherDesk;
  KadroOcx other{otherDesk.platform};
  auto configure = [&](KadroOcx& c) {
    c.setparm(T("uid=" + vsftpd.user() + ";path=127.0.0.1:" + std::to_string(vsftpd.port()) + ";pass=" +
                vsftpd.password()),
              u";", GetParam());
  };
  auto save = [&](KadroOcx& c, const std::string& content) {
    WriteWholeFile(N(c.getLocalFile()), content);
    Touch(N(c.getLocalFile()));
    ASSERT_EQ(c.saveFile(), 1) << N(c.getErrorMsg());
  };
  vsftpd.WriteFile("docs/report.doc", "version 1");
  configure(other);
  ASSERT_EQ(control.getFile(u"docs/report.doc", u""), 1) << N(control.getErrorMsg());
  ASSERT_EQ(other.getFile(u"docs/report.doc", u""), 1) << N(other.getErrorMsg());
  save(other, "version 2, the first clerk's");
  EXPECT_TRUE(otherDesk.prompt.shown.empty());
  save(control, "version 3, the second clerk's");

  const auto names = ServerListing("docs");
  ASSERT_EQ(names.size(), 3u) << ::testing::PrintToString(names);
  const std::string kept = "docs/" + names[0];
  EXPECT_TRUE(::testing::internal::RE::FullMatch(kept, "docs/report\\.[0-9]{8}-[0-9]{6}\\.doc")) << kept;
  EXPECT_EQ(vsftpd.ReadFile(kept), "version 2, the first clerk's");
  EXPECT_EQ(vsftpd.ReadFile("docs/report.doc"), "version 3, the second clerk's");
  EXPECT_EQ(vsftpd.ReadFile("docs/report.doc.old"), "version 1");
  ASSERT_EQ(real.prompt.shown.size(), 1u);
  EXPECT_NE(real.prompt.shown[0].find("另存为：" + kept + "，"), std::string::npos) << real.prompt.shown[0];
  EXPECT_EQ(N(control.getTiShiMsg()), real.prompt.shown[0]);

  // The first clerk saves again from the copy it still holds: the second's version is kept in turn.
  const fs::path stale = otherDesk.temp / "stale.doc";
  WriteWholeFile(stale, "version 4, the first clerk again");
  configure(other);
  ASSERT_EQ(other.PutFile(T(stale), u"docs/report.doc", 0), 1) << N(other.getErrorMsg());
  ASSERT_EQ(otherDesk.prompt.shown.size(), 1u);
  EXPECT_EQ(ServerListing("docs").size(), 4u) << ::testing::PrintToString(ServerListing("docs"));
  EXPECT_EQ(vsftpd.ReadFile(kept), "version 2, the first clerk's");
  EXPECT_EQ(vsftpd.ReadFile("docs/report.doc"), "version 4, the first clerk again");
  bool secondKept = false;
  for (const auto& name : ServerListing("docs")) {
    secondKept |= vsftpd.ReadFile("docs/" + name) == "version 3, the second clerk's";
  }
  EXPECT_TRUE(secondKept);

  // One control saving five times in a row sees no notice.
  for (int i = 0; i < 5; ++i) {
    WriteWholeFile(stale, "version " + std::to_string(5 + i));
    configure(other);
    ASSERT_EQ(other.PutFile(T(stale), u"docs/report.doc", 0), 1) << N(other.getErrorMsg());
  }
  EXPECT_EQ(otherDesk.prompt.shown.size(), 1u);
  EXPECT_EQ(other.getTiShiMsg(), u"");
  EXPECT_EQ(vsftpd.ReadFile("docs/report.doc"), "version 9");
}

INSTANTIATE_TEST_SUITE_P(Modes, EditCycleTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 1 ? "Passive" : "Active"; });

TEST(HighPort, APortAbove32767Connects) {
  VsftpdServer vsftpd({.port = VsftpdServer::FreePort(40000, 60000)});
  vsftpd.WriteFile("a.doc", "high");
  RealPlatform real;
  KadroOcx control(real.platform);
  control.setparm(T("uid=" + vsftpd.user() + ";path=127.0.0.1:" + std::to_string(vsftpd.port()) +
                    ";pass=" + vsftpd.password()),
                  u";", 1);
  ASSERT_EQ(control.GetFileToFile(u"a.doc", T(real.temp / "a")), 1) << N(control.getErrorMsg());
  EXPECT_EQ(ReadWholeFile(real.temp / "a"), "high");
}

}  // namespace
}  // namespace kadroo::testing
