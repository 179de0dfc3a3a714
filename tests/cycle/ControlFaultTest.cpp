// The control against a scripted FTP server, for what a real server will not do. Each test checks the commands
// that went out and that no document was lost, locally or on the server.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "control/KadroOcx.h"
#include "support/FakeFtpServer.h"
#include "support/RealPlatform.h"

namespace kadroo::testing {
namespace {

namespace fs = std::filesystem;
using Commands = std::vector<std::string>;

Text T(const std::string& s) { return FromUtf8Lossy(s); }
std::string N(const Text& s) { return ToUtf8Lossy(s); }

class ControlFaultTest : public ::testing::Test {
 protected:
  explicit ControlFaultTest(std::chrono::milliseconds timeout = std::chrono::seconds(5)) : real(timeout) {
    Configure();
  }
  void Configure() {
    control.setparm(T("uid=user;path=127.0.0.1:" + std::to_string(server.port()) + ";pass=pass"), u";", 1);
  }
  // The commands of every connection, once the control has closed them all.
  Commands Sent() { return server.Commands(); }
  bool SentAny(const std::string& prefix) {
    for (const auto& c : Sent()) {
      if (c.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  FakeFtpServer server;
  RealPlatform real;
  KadroOcx control{real.platform};
};

TEST_F(ControlFaultTest, DataDroppedMidRetrKeepsTheLocalFile) {
  server.SetFile("doc", std::string(100000, 'n'));
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "the clerk's earlier copy");
  server.DropData("RETR", 1000);
  EXPECT_EQ(control.GetFileToFile(u"doc", T(local)), -1);
  EXPECT_EQ(ReadWholeFile(local), "the clerk's earlier copy");
  // The file exists, so the search after the failed transfer finds it.
  EXPECT_EQ(control.getErrorMsg().rfind(u"Target is a folder， but a file name is needed？\r\n", 0), 0u)
      << N(control.getErrorMsg());
}

TEST_F(ControlFaultTest, DataDroppedMidStorKeepsTheDocument) {
  server.SetFile("doc", "version 1");
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, std::string(200000, 'x'));
  server.DropData("STOR", 1000);
  EXPECT_EQ(control.PutFile(T(local), u"doc", 1), -1);
  EXPECT_EQ(server.File("doc"), "version 1");
  EXPECT_TRUE(fs::exists(local));
  EXPECT_FALSE(SentAny("RNFR")) << "nothing is swapped after a failed transfer";
  EXPECT_EQ(control.state().sUid, u"user");
}

TEST_F(ControlFaultTest, EmptyFirstRetrIsRetriedAfterTheNotice) {
  server.SetFile("doc", "content");
  server.SendData("RETR", "", 1);
  ASSERT_EQ(control.getFile(u"doc", u""), 1) << N(control.getErrorMsg());
  EXPECT_EQ(ReadWholeFile(N(control.getLocalFile())), "content");
  EXPECT_EQ(real.prompt.shown, std::vector<std::string>{"第一次失败取文件失败，系统会再自动再重试一遍！"});
  Commands retrs;
  for (const auto& c : Sent()) {
    if (c.rfind("RETR", 0) == 0) retrs.push_back(c);
  }
  EXPECT_EQ(retrs, (Commands{"RETR doc", "RETR doc"}));
}

TEST_F(ControlFaultTest, SizeThatDisagreesStopsBeforeTheSwap) {
  server.SetFile("doc", "version 1");
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "version 2");
  server.Reply("SIZE doc.new", "213 4");
  EXPECT_EQ(control.PutFile(T(local), u"doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(),
            T("传到远程的文件长度和本地的不一致：本地=9 远程=4\\r\\n" + local.string() + "\\r\\n4"));
  EXPECT_EQ(server.File("doc"), "version 1");
  EXPECT_EQ(server.File("doc.new"), "version 2");
  EXPECT_FALSE(SentAny("DELE"));
  EXPECT_TRUE(fs::exists(local));
}

TEST(ControlDigestTest, ContentThatDisagreesStopsBeforeTheSwap) {
  FakeFtpServer::Options options;
  options.features.push_back("XSHA256");
  FakeFtpServer server(options);
  RealPlatform real;
  KadroOcx control{real.platform};
  control.setparm(T("uid=user;path=127.0.0.1:" + std::to_string(server.port()) + ";pass=pass"), u";", 1);
  server.SetFile("doc", "version 1");
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "version 2");
  server.CorruptData("STOR", 3, 1);
  EXPECT_EQ(control.PutFile(T(local), u"doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg().rfind(u"传到远程的文件内容和本地的不一致：本地SHA-256=", 0), 0u)
      << N(control.getErrorMsg());
  EXPECT_EQ(server.File("doc"), "version 1");
  EXPECT_EQ(server.File("doc.new"), "verSion 2");
  for (const auto& c : server.Commands()) {
    EXPECT_TRUE(c.rfind("RNFR", 0) != 0 && c.rfind("DELE", 0) != 0) << "nothing swapped: " << c;
  }
  EXPECT_TRUE(fs::exists(local));
}

TEST_F(ControlFaultTest, RefusedFinalRenameLeavesTheDocumentOnTheServer) {
  server.SetFile("dir/doc", "version 1");
  server.SetFile("dir/doc.old", "version 0");
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "version 2");
  server.Reply("RNFR dir/doc.new", "550 Permission denied.", 1);
  EXPECT_EQ(control.PutFile(T(local), u"dir/doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"把上传的临时文件改为正常文件时出错：dir/doc.new");
  EXPECT_EQ(server.File("dir/doc"), "version 1") << "the previous version is back under its name";
  EXPECT_EQ(server.File("dir/doc.new"), "version 2");
  Commands tail;
  for (const auto& c : Sent()) {
    if (c.rfind("RNFR", 0) == 0 || c.rfind("RNTO", 0) == 0 || c.rfind("DELE", 0) == 0) tail.push_back(c);
  }
  EXPECT_EQ(tail, (Commands{"DELE dir/doc.old", "RNFR dir/doc", "RNTO dir/doc.old", "RNFR dir/doc.new",
                            "RNFR dir/doc.old", "RNTO dir/doc"}));
  EXPECT_TRUE(fs::exists(local));
}

TEST_F(ControlFaultTest, ServiceClosingMidUpload) {
  server.SetFile("doc", "version 1");
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "version 2");
  server.Reply("STOR doc.new", "421 Service not available, closing control connection.");
  EXPECT_EQ(control.PutFile(T(local), u"doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(),
            u"文件服务器连接被中断。The FTP operation was not completed because the session was aborted \r\n错误号：12111");
  EXPECT_EQ(server.File("doc"), "version 1");
  EXPECT_TRUE(fs::exists(local));
}

TEST_F(ControlFaultTest, PathWithoutDirectoryCreatesNone) {
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "v");
  ASSERT_EQ(control.PutFile(T(local), u"doc", 0), 1) << N(control.getErrorMsg());
  EXPECT_FALSE(SentAny("MKD"));
  Configure();
  ASSERT_EQ(control.PutFile(T(local), u"a/b/doc", 0), 1) << N(control.getErrorMsg());
  EXPECT_TRUE(SentAny("MKD a/b"));
}

TEST_F(ControlFaultTest, EveryConnectionIsClosedAfterACycle) {
  server.SetFile("doc", "d");
  server.SetFile("tpl", "t");
  ASSERT_EQ(control.getFile(u"doc", u"tpl"), 1);
  WriteWholeFile(N(control.getLocalFile()), "edited");
  Touch(N(control.getLocalFile()));
  ASSERT_EQ(control.saveFile(), 1) << N(control.getErrorMsg());
  int quits = 0;
  for (const auto& c : Sent()) quits += c == "QUIT";
  EXPECT_EQ(server.Connections(), 3);
  EXPECT_EQ(quits, 3);
}

TEST_F(ControlFaultTest, AnEmptyDownloadLeavesTheClerksFileAsItWas) {
  server.SetFile("doc", "");
  const fs::path local = real.temp / "mine" / "doc";
  fs::create_directory(local.parent_path());
  WriteWholeFile(local, "the clerk's only copy");
  EXPECT_EQ(control.GetFileToFile(u"doc", T(local)), -1);
  EXPECT_EQ(control.getErrorMsg(), u"取文件失败，取到的文件长度为0：" + T(local));
  EXPECT_EQ(real.prompt.shown, std::vector<std::string>{"第一次失败取文件失败，系统会再自动再重试一遍！"});
  EXPECT_EQ(ReadWholeFile(local), "the clerk's only copy");
  EXPECT_EQ(Listing(local.parent_path()), std::vector<std::string>{"doc"});
  // The retry brings the content: the file is replaced as usual.
  real.prompt.shown.clear();
  server.SendData("RETR doc", "", 1);
  server.SetFile("doc", "now with content");
  ASSERT_EQ(control.GetFileToFile(u"doc", T(local)), 1) << N(control.getErrorMsg());
  EXPECT_EQ(ReadWholeFile(local), "now with content");
  EXPECT_EQ(real.prompt.shown.size(), 1u);
}

TEST_F(ControlFaultTest, FailedUploadsNeverDeleteTheLastGoodVersion) {
  server.SetFile("dir/doc", "version 1");
  const fs::path local = real.temp / "doc";
  auto lastGood = [&] { return server.File("dir/doc") == "version 1" || server.File("dir/doc.old") == "version 1"; };
  auto upload = [&](const std::string& content) {
    WriteWholeFile(local, content);
    Configure();
    return control.PutFile(T(local), u"dir/doc", 0);
  };
  // The swap fails half-way and the put-back fails too: version 1 is only under P.old.
  server.Reply("RNFR dir/doc.new", "550 Permission denied.", 1);
  server.Reply("RNFR dir/doc.old", "550 Permission denied.", 1);
  EXPECT_EQ(upload("version 2"), -1);
  EXPECT_FALSE(server.File("dir/doc"));
  EXPECT_EQ(server.File("dir/doc.old"), "version 1");
  // The next upload fails in the same place; with no P there is no backup to replace.
  server.Reply("RNFR dir/doc.new", "550 Permission denied.", 1);
  const size_t before = Sent().size();
  EXPECT_EQ(upload("version 3"), -1);
  EXPECT_TRUE(lastGood());
  const Commands third = Sent();
  for (size_t i = before; i < third.size(); ++i) {
    EXPECT_NE(third[i].rfind("DELE", 0), 0u) << "P.old must not be deleted while P is missing";
  }
  // One that works puts the new version under P and still keeps version 1.
  ASSERT_EQ(upload("version 4"), 1) << N(control.getErrorMsg());
  EXPECT_EQ(server.File("dir/doc"), "version 4");
  EXPECT_EQ(server.File("dir/doc.old"), "version 1");
  // From here the usual rotation resumes.
  ASSERT_EQ(upload("version 5"), 1) << N(control.getErrorMsg());
  EXPECT_EQ(server.File("dir/doc.old"), "version 4");
}

TEST_F(ControlFaultTest, ALocalWriteFailureIsReportedWithItsOwnCode) {
  // The file-size limit stands in for a full disk: the write fails part-way, locally.
  server.SetFile("doc", std::string(1 << 20, 'd'));
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "the clerk's copy");
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t result = control.GetFileToFile(u"doc", T(local));
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(control.getErrorMsg(),
            u"Target is a folder， but a file name is needed？\r\n无其他详细错误信息。\r\n错误号：223");
  EXPECT_EQ(control.GetErr(0, u""), u"无其他详细错误信息。\r\n错误号：223") << "the transfer's code stays the last";
  EXPECT_EQ(ReadWholeFile(local), "the clerk's copy");
  EXPECT_EQ(Listing(real.temp.path()), std::vector<std::string>{"doc"});
}

TEST_F(ControlFaultTest, AListingLineThatCannotBeParsedIsAFailedSearchNotAScriptError) {
  server.SetFile("doc.txt", "x");
  server.Reply("RETR doc.txt", "550 Permission denied.");
  server.Reply("SIZE", "550 Not a plain file.");
  server.SendData("LIST", "01-02-24  1:2  5 doc.txt\r\n01-02-24  1:  <DIR> doc.txt\r\n");
  const fs::path local = real.temp / "doc.txt";
  EXPECT_EQ(control.GetFileToFile(u"doc.txt", T(local)), -1);
  EXPECT_EQ(control.getErrorMsg().rfind(u"服务器文件或文件夹不存在或拒绝访问。\r\n", 0), 0u) << N(control.getErrorMsg());
}

class StallingServerTest : public ControlFaultTest {
 protected:
  StallingServerTest() : ControlFaultTest(std::chrono::milliseconds(400)) {}
};

TEST_F(StallingServerTest, StalledTransferTimesOutAndKeepsTheLocalFile) {
  server.SetFile("doc", std::string(50000, 's'));
  const fs::path local = real.temp / "doc";
  WriteWholeFile(local, "kept");
  server.StallData("RETR", 100);
  EXPECT_EQ(control.GetFileToFile(u"doc", T(local)), -1);
  // The timeout ends the connection, so the search that looks for the reason finds the session gone.
  EXPECT_EQ(control.getErrorMsg(),
            u"服务器文件或文件夹不存在或拒绝访问。\r\n文件服务器连接被中断。The FTP operation was not completed because the "
            u"session was aborted \r\n错误号：12111");
  EXPECT_EQ(ReadWholeFile(local), "kept");
}

TEST_F(StallingServerTest, StalledLoginTimesOut) {
  server.Stall("PASS");
  EXPECT_EQ(control.getFile(u"doc", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"操作超时，可能网络故障或目标机器不存在\r\n错误号：12002");
}

}  // namespace
}  // namespace kadroo::testing
