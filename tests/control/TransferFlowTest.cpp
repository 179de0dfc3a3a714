// The download, upload and session flows against an in-memory FTP server and file system.
#include <gtest/gtest.h>

#include <algorithm>

#include "control/KadroOcx.h"
#include "ftp/FtpClient.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

using testing::FakePlatform;

constexpr char16_t kParm[] = u"uid=clerk;path=files.example:2121;pass=pw";
constexpr char kUnsavedWarning[] =
    "提示信息：要上传的文件和原来的文件最后修改时间一样，怀疑修改没有保存成功，系统会照旧上传，但请您稍后再次打开文件来核实！";
constexpr char kRetryNotice[] = "第一次失败取文件失败，系统会再自动再重试一遍！";

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ftp.remoteFiles["docs/a.doc"] = "document v1";
    fake.ftp.remoteFiles["tpl/t.dot"] = "template";
    control.setparm(kParm, u";", 1);
  }
  std::string Local(const Text& path) { return fake.files.files.at(testing::Narrow(path)).content; }
  size_t Count(const std::string& prefix) {
    return std::count_if(fake.ftp.log.begin(), fake.ftp.log.end(),
                         [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
  }
  FakePlatform fake;
  KadroOcx control{fake.platform};
};

// --- the session ---

TEST_F(TransferTest, MissingServerOrUserIsReportedBeforeConnecting) {
  control.setparm(u"pass=x", u";", 0);
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"参数错误，没有提供服务器地址");
  control.setparm(u"path=h", u";", 0);
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"参数错误，没有提供登陆帐用户");
  EXPECT_TRUE(fake.ftp.log.empty());
}

TEST_F(TransferTest, PortIsSplitOffOnceAndKept) {
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_EQ(control.state().sServer, u"files.example");
  EXPECT_EQ(control.state().sPort, u"2121");
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_EQ(Count("connect files.example 2121 clerk pw passive"), 2u);
}

TEST_F(TransferTest, PortTexts) {
  const struct {
    const char16_t* server;
    const char* connect;
    const char16_t* host;  // what the server field holds after the split
    const char16_t* port;
  } cases[] = {
      {u"h", "connect h 0 ", u"h", u""},
      {u"h:", "connect h 0 ", u"h", u""},
      {u"h:abc", "connect h 0 ", u"h", u"abc"},
      {u"h:21:99", "connect h 21 ", u"h", u"21:99"},
      {u":21", "connect  21 ", u"", u"21"},
      {u"h:40000", "connect h 40000 ", u"h", u"40000"},
      {u"h:65535", "connect h 65535 ", u"h", u"65535"},
      {u"h: 2 1", "connect h 21 ", u"h", u" 2 1"},
      {u"h:21.5", "connect h 22 ", u"h", u"21.5"},
      {u"h:22.5", "connect h 22 ", u"h", u"22.5"},
      {u"h:&H15", "connect h 21 ", u"h", u"&H15"},
      // An IPv6 address in brackets: the port follows the closing bracket, the brackets stay in the field.
      {u"[::1]:2121", "connect ::1 2121 ", u"[::1]", u"2121"},
      {u"[::1]", "connect ::1 0 ", u"[::1]", u""},
      {u"[::1]:", "connect ::1 0 ", u"[::1]", u""},
      {u"[2001:DB8::a]:21:99", "connect 2001:DB8::a 21 ", u"[2001:DB8::a]", u"21:99"},
      {u"[::ffff:192.0.2.1]:990", "connect ::ffff:192.0.2.1 990 ", u"[::ffff:192.0.2.1]", u"990"},
      // Anything else is split at its first colon, as it always was.
      {u"::1:2121", "connect  0 ", u"", u":1:2121"},
      {u"::1", "connect  0 ", u"", u":1"},
      {u"[::1]x:21", "connect [ 0 ", u"[", u":1]x:21"},
      {u"[::1", "connect [ 0 ", u"[", u":1"},
      {u"[h]:21", "connect [h] 21 ", u"[h]", u"21"},
      {u"[]:21", "connect [] 21 ", u"[]", u"21"},
      {u"[::g]:21", "connect [ 0 ", u"[", u":g]:21"},
  };
  for (const auto& c : cases) {
    fake.ftp.log.clear();
    control.setparm(Text(u"uid=u;path=") + c.server, u";", 0);
    control.GetFileToFile(u"docs/a.doc", u"/tmp/a");
    ASSERT_GE(fake.ftp.log.size(), 2u) << testing::Narrow(c.server);
    EXPECT_EQ(fake.ftp.log[1].rfind(c.connect, 0), 0u) << fake.ftp.log[1];
    EXPECT_EQ(control.state().sServer, c.host) << testing::Narrow(c.server);
    EXPECT_EQ(control.state().sPort, c.port) << testing::Narrow(c.server);
  }
}

TEST_F(TransferTest, ABracketedAddressKeepsItsPortOnTheNextConnect) {
  control.setparm(u"uid=u;path=[::1]:2121", u";", 1);
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_EQ(Count("connect ::1 2121 u"), 2u);
  EXPECT_EQ(control.state().sServer, u"[::1]");
}

TEST_F(TransferTest, PortOutsideTheRangeConnectsNowhere) {
  for (const char16_t* server : {u"h:65536", u"h:70000", u"h:-1", u"h:1e10"}) {
    fake.ftp.log.clear();
    control.setparm(Text(u"uid=u;path=") + server, u";", 0);
    EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
    EXPECT_EQ(Count("connect"), 0u) << testing::Narrow(server);
    EXPECT_EQ(control.getErrorMsg(), u"无其他详细错误信息。\r\n错误号：0");
  }
}

TEST_F(TransferTest, RefusedLoginKeepsTheLibrarysCode) {
  fake.ftp.connectFails = ERROR_INTERNET_LOGIN_FAILURE;
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"连接和登录文件服务器失败\r\n错误号：12015");
  EXPECT_EQ(control.state().hConnect, 0);
  EXPECT_GT(control.state().hInternet, 0);
  fake.ftp.connectFails = 0;
  fake.ftp.openFails = 12004;
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"An internal error has occurred.\r\n错误号：12004");
  EXPECT_EQ(control.state().hInternet, 0);
}

TEST_F(TransferTest, AConnectionLeftOpenByAFailureIsClosedByTheNextConnect) {
  EXPECT_EQ(control.GetFileToFile(u"missing", u"/tmp/a"), -1);
  const Handle leftConnection = control.state().hConnect;
  const Handle leftSession = control.state().hInternet;
  ASSERT_GT(leftConnection, 0);
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_NE(std::find(fake.ftp.closed.begin(), fake.ftp.closed.end(), leftConnection), fake.ftp.closed.end());
  EXPECT_NE(std::find(fake.ftp.closed.begin(), fake.ftp.closed.end(), leftSession), fake.ftp.closed.end());
  EXPECT_EQ(control.state().hConnect, 0);
  EXPECT_EQ(control.state().hInternet, 0);
}

TEST_F(TransferTest, QuitScriptIsWrittenAndTheClientStartedBeforeEachTransfer) {
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_EQ(fake.files.files.at("/tmp/quit.txt").content, "quit\n");
  ASSERT_EQ(fake.processes.started.size(), 1u);
  EXPECT_EQ(fake.processes.started[0], "ftp -w:65535 -s:/tmp/quit.txt");
  EXPECT_EQ(fake.processes.showStates[0], SW_SHOWMINIMIZED);
}

TEST_F(TransferTest, AFailingQuitScriptNeverFailsATransfer) {
  fake.files.quitScriptFails = true;
  fake.processes.startFails = true;
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_EQ(fake.processes.started.size(), 1u) << "the client is started even when the file cannot be written";
  EXPECT_EQ(Local(u"/tmp/a"), "document v1");
  fake.files.Write("/tmp/a", "edited");
  EXPECT_EQ(control.PutFile(u"/tmp/a", u"docs/a.doc", 0), 1);
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/a.doc"), "edited");
}

// --- download ---

TEST_F(TransferTest, GetFileFetchesTemplateThenDocument) {
  ASSERT_EQ(control.getFile(u"docs/a.doc", u"tpl/t.dot"), 1);
  const auto& s = control.state();
  EXPECT_EQ(s.sRemoteFile, u"docs/a.doc");
  EXPECT_EQ(s.sMobanFile, u"/tmp/oam1.tmp");
  EXPECT_EQ(s.sLocalFile, u"/tmp/kad2.tmp");
  EXPECT_EQ(Local(s.sMobanFile), "template");
  EXPECT_EQ(Local(s.sLocalFile), "document v1");
  EXPECT_EQ(s.sLastLocalFile, s.sLocalFile);
  EXPECT_EQ(s.tLastLocalFind.FileSize(), 11u);
  EXPECT_EQ(s.hConnect, 0);
  EXPECT_EQ(s.hInternet, 0);
  EXPECT_EQ(Count("connect"), 2u) << "each file over a connection of its own";
  EXPECT_EQ(fake.ftp.log[2], "get tpl/t.dot -> /tmp/oam1.tmp");
  EXPECT_TRUE(fake.prompt.shown.empty());
}

TEST_F(TransferTest, TemplateOfSpacesIsNoTemplateButPaddedOneIsFetchedUntrimmed) {
  control.setLocalFile(u"x");
  ASSERT_EQ(control.getFile(u"docs/a.doc", u"   "), 1);
  EXPECT_EQ(control.getMoBanFile(), u"");
  EXPECT_EQ(Count("get"), 1u);
  fake.ftp.remoteFiles[" tpl/t.dot "] = "padded template";
  ASSERT_EQ(control.getFile(u"docs/a.doc", u" tpl/t.dot "), 1);
  EXPECT_EQ(Local(control.getMoBanFile()), "padded template");
}

TEST_F(TransferTest, MissingTemplateStopsBeforeTheDocument) {
  control.getFile(u"docs/a.doc", u"");  // a snapshot to keep
  const Text snapshot = control.state().sLastLocalFile;
  EXPECT_EQ(control.getFile(u"docs/a.doc", u"tpl/none.dot"), -1);
  EXPECT_EQ(control.getLocalFile(), u"/tmp/oam2.tmp");
  EXPECT_EQ(control.getRemoteFile(), u"tpl/none.dot");
  EXPECT_EQ(control.getMoBanFile(), u"");
  EXPECT_EQ(control.state().sLastLocalFile, snapshot);
  EXPECT_EQ(control.getErrorMsg(), u"服务器文件或文件夹不存在或拒绝访问。\r\n文件不存在或没有更多文件\r\n错误号：18");
  EXPECT_GT(control.state().hConnect, 0) << "a failed transfer leaves its connection to the next connect";
  EXPECT_EQ(Count("get docs/a.doc"), 1u);
}

TEST_F(TransferTest, RemoteDirectoryIsNamedAsSuch) {
  fake.ftp.directories.insert("docs");
  EXPECT_EQ(control.GetFileToFile(u"docs", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg().rfind(u"Target is a folder， but a file name is needed？\r\n", 0), 0u);
  EXPECT_EQ(fake.ftp.closed.size(), 1u) << "the search handle is closed";
}

TEST_F(TransferTest, GetFileToFileChecksItsArgumentsAfterConnecting) {
  EXPECT_EQ(control.GetFileToFile(u"", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"参数错误，没有指定远程文件路径");
  EXPECT_EQ(Count("connect"), 1u);
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"无本地文件名参数");
  control.setparm(u"", u"", 0);
  EXPECT_EQ(control.GetFileToFile(u"", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"参数错误，没有提供服务器地址");
}

TEST_F(TransferTest, NoTemporaryNameMeansNoLocalName) {
  fake.files.tempFails = true;
  EXPECT_EQ(control.getFile(u"docs/a.doc", u""), -1);
  EXPECT_EQ(control.getErrorMsg(), u"无本地文件名参数");
}

TEST_F(TransferTest, EmptyFirstDownloadIsRetriedOnceAfterANotice) {
  fake.ftp.emptyGets = 1;
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), 1);
  EXPECT_EQ(fake.prompt.shown, std::vector<std::string>{kRetryNotice});
  EXPECT_EQ(fake.prompt.titles[0], "KadroOA");
  EXPECT_EQ(Local(u"/tmp/a"), "document v1");
  EXPECT_EQ(fake.processes.started.size(), 1u) << "the quit script is not run again";
}

TEST_F(TransferTest, EmptySecondDownloadFails) {
  fake.ftp.emptyGets = 2;
  const Text before = control.state().sLastLocalFile;
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"取文件失败，取到的文件长度为0：/tmp/a");
  EXPECT_EQ(control.state().sLastLocalFile, before);
  EXPECT_EQ(fake.prompt.shown.size(), 1u);
}

TEST_F(TransferTest, FailedSecondDownloadFails) {
  fake.ftp.emptyGets = 1;
  fake.ftp.getResults = {0, ERROR_INTERNET_CONNECTION_RESET};
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"试图取文件到/tmp/a时失败！");
  EXPECT_EQ(Count("find"), 0u) << "no search after the second transfer";
}

TEST_F(TransferTest, UnreadableLocalRecordFails) {
  fake.files.findFails = true;
  EXPECT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/a"), -1);
  EXPECT_EQ(control.getErrorMsg(), u"获取本地文件属性时失败：/tmp/a");
}

TEST_F(TransferTest, AFileOfFourGibibytesIsNotEmpty) {
  // The fake writes the content; make the file look 4 GiB large once it has arrived.
  fake.ftp.remoteFiles["big"] = "x";
  fake.files.files["/tmp/big"];
  ASSERT_EQ(control.GetFileToFile(u"big", u"/tmp/big"), 1);
  fake.files.files["/tmp/big"].sizeOverride = uint64_t{1} << 32;
  fake.files.files["/tmp/big"].lastWrite = FileTime::FromTicks(1);
  // Upload the "4 GiB" file: not refused as empty, and a remote size equal in its low 32 bits only differs.
  fake.ftp.remoteSizeOverride = 0;
  EXPECT_EQ(control.PutFile(u"/tmp/big", u"big", 0), -1);
  EXPECT_EQ(control.getErrorMsg(), u"传到远程的文件长度为0：big.new");
  control.setparm(kParm, u";", 1);
  fake.ftp.remoteSizeOverride = (uint64_t{1} << 33);
  EXPECT_EQ(control.PutFile(u"/tmp/big", u"big", 0), -1);
  EXPECT_EQ(control.getErrorMsg(),
            u"传到远程的文件长度和本地的不一致：本地=4294967296 远程=8589934592\\r\\n/tmp/big\\r\\n8589934592");
  EXPECT_EQ(fake.ftp.remoteFiles.at("big"), "x") << "the document is untouched";
}

TEST_F(TransferTest, MessageOfAFailureOutlivesLaterSuccesses) {
  EXPECT_EQ(control.GetFileToFile(u"missing", u"/tmp/a"), -1);
  const Text message = control.getErrorMsg();
  EXPECT_EQ(control.getErrorMsg(), message) << "reading the message does not empty it";
  ASSERT_EQ(control.getFile(u"docs/a.doc", u""), 1);
  EXPECT_EQ(control.getErrorMsg(), message) << "a successful download leaves it";
  control.setparm(kParm, u";", 0);
  EXPECT_EQ(control.getErrorMsg(), u"");
}

// --- upload ---

TEST_F(TransferTest, EditCycleWithBackup) {
  ASSERT_EQ(control.getFile(u"docs/a.doc", u"tpl/t.dot"), 1);
  const Text doc = control.getLocalFile();
  const Text tpl = control.getMoBanFile();
  fake.files.Write(testing::Narrow(doc), "document v2");
  ASSERT_EQ(control.saveFile(), 1);
  EXPECT_TRUE(fake.prompt.shown.empty());
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/a.doc"), "document v2");
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/a.doc.old"), "document v1");
  EXPECT_EQ(fake.ftp.remoteFiles.count("docs/a.doc.new"), 0u);
  EXPECT_FALSE(fake.files.Exists(testing::Narrow(doc)));
  EXPECT_FALSE(fake.files.Exists(testing::Narrow(tpl)));
  const auto& s = control.state();
  for (const Text* field : {&s.sUid, &s.sServer, &s.sPass, &s.sErrorMsg, &s.sLocalFile, &s.sRemoteFile,
                            &s.sMobanFile, &s.sPort}) {
    EXPECT_EQ(*field, u"");
  }
  EXPECT_EQ(s.sParm, kParm);
  EXPECT_EQ(s.lConnectFlags, static_cast<int32_t>(INTERNET_FLAG_PASSIVE));
  EXPECT_EQ(s.sLastLocalFile, doc);
  std::vector<std::string> tail(fake.ftp.log.end() - 11, fake.ftp.log.end());
  for (auto& entry : tail) {
    if (entry.rfind("close ", 0) == 0) entry = "close";
  }
  // The look at docs/a.doc before the swap (SIZE and MDTM) shows that it exists: no find is needed for that.
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "open vb activex", "connect files.example 2121 clerk pw passive", "mkdir docs",
                      "put " + testing::Narrow(doc) + " -> docs/a.doc.new", "find docs/a.doc.new", "close",
                      "delete docs/a.doc.old", "rename docs/a.doc -> docs/a.doc.old",
                      "rename docs/a.doc.new -> docs/a.doc", "close", "close"}));
  // One look at the document before its download (not at the template), and the time of the upload (its size is
  // the one just read) and the document's state before the swap.
  EXPECT_EQ(fake.ftp.commands, (std::vector<std::string>{"FEAT", "MDTM docs/a.doc", "MDTM docs/a.doc.new",
                                                         "SIZE docs/a.doc", "MDTM docs/a.doc"}));
  EXPECT_EQ(control.saveFile(), -1) << "the connection parameters are gone";
  EXPECT_EQ(control.getErrorMsg(), u"参数错误，没有提供服务器地址");
}

TEST_F(TransferTest, RepeatedUploadsKeepOneBackupOfTheVersionBefore) {
  fake.ftp.remoteFiles.clear();
  for (const char* version : {"one", "two", "three"}) {
    fake.files.Write("/tmp/doc", version);
    control.setparm(kParm, u";", 0);
    ASSERT_EQ(control.PutFile(u"/tmp/doc", u"p/doc", 0), 1) << version;
  }
  EXPECT_EQ(fake.ftp.remoteFiles, (std::map<std::string, std::string>{{"p/doc", "three"}, {"p/doc.old", "two"}}));
}

TEST_F(TransferTest, UnchangedDocumentWarnsOnceAndStillUploads) {
  ASSERT_EQ(control.getFile(u"docs/a.doc", u""), 1);
  ASSERT_EQ(control.saveFile(), 1);
  EXPECT_EQ(fake.prompt.shown, std::vector<std::string>{kUnsavedWarning});
  EXPECT_EQ(fake.prompt.titles[0], "KadroOA");
  EXPECT_EQ(control.getTiShiMsg(), u"");
}

TEST_F(TransferTest, NoWarningForAnotherSpellingOfThePath) {
  fake.files.files["/tmp/A"];
  ASSERT_EQ(control.GetFileToFile(u"docs/a.doc", u"/tmp/A"), 1);
  fake.files.files["/tmp/a"] = fake.files.files["/tmp/A"];
  EXPECT_EQ(control.PutFile(u"/tmp/a", u"docs/a.doc", 0), 1);
  EXPECT_TRUE(fake.prompt.shown.empty());
}

TEST_F(TransferTest, EmptyLocalFileIsRefusedBeforeAnythingIsSent) {
  fake.files.Write("/tmp/empty", "");
  EXPECT_EQ(control.PutFile(u"/tmp/empty", u"docs/a.doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"本地文件长度为0，/tmp/empty");
  EXPECT_EQ(Count("put"), 0u);
  EXPECT_GT(control.state().hConnect, 0);
  EXPECT_TRUE(fake.files.Exists("/tmp/empty"));
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/a.doc"), "document v1");
}

TEST_F(TransferTest, PutFileArguments) {
  EXPECT_EQ(control.PutFile(u"", u"docs/a.doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"无本地文件名");
  fake.files.Write("/tmp/x", "x");
  control.setLocalFile(u"/tmp/x");
  EXPECT_EQ(control.PutFile(u"", u"", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"无服务器文件名参数");
  EXPECT_EQ(control.PutFile(u"", u"docs/x", 1), 1) << "an empty local path uploads what sLocalFile holds";
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/x"), "x");
  EXPECT_FALSE(fake.files.Exists("/tmp/x"));
  control.setparm(kParm, u";", 0);
  EXPECT_EQ(control.PutFile(u"/tmp/missing", u"docs/x", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"获取本地文件属性时失败：/tmp/missing");
}

TEST_F(TransferTest, PutFileKeepsLocalFilesUnlessAskedWithOne) {
  for (int32_t flag : {0, -1, 2}) {
    control.setparm(kParm, u";", 0);
    ASSERT_EQ(control.getFile(u"docs/a.doc", u"tpl/t.dot"), 1);
    const std::string doc = testing::Narrow(control.getLocalFile());
    const std::string tpl = testing::Narrow(control.getMoBanFile());
    fake.files.Write(doc, "changed");
    control.setparm(kParm, u";", 0);
    ASSERT_EQ(control.PutFile(u"", u"docs/a.doc", flag), 1);
    EXPECT_TRUE(fake.files.Exists(doc)) << flag;
    EXPECT_TRUE(fake.files.Exists(tpl)) << flag;
    EXPECT_EQ(control.getLocalFile(), u"");
    EXPECT_EQ(control.getMoBanFile(), u"");
  }
}

TEST_F(TransferTest, DirectoryStepOnlyForAPathThatNamesOne) {
  const struct {
    const char16_t* remote;
    const char* mkdir;
  } cases[] = {{u"doc", nullptr}, {u"/doc", nullptr}, {u"a/b/doc", "mkdir a/b"}, {u"/a/doc", "mkdir /a"}};
  fake.files.Write("/tmp/x", "x");
  for (const auto& c : cases) {
    fake.ftp.log.clear();
    control.setparm(kParm, u";", 0);
    ASSERT_EQ(control.PutFile(u"/tmp/x", c.remote, 0), 1);
    EXPECT_EQ(Count("mkdir"), c.mkdir ? 1u : 0u) << testing::Narrow(c.remote);
    if (c.mkdir) {
      EXPECT_EQ(Count(c.mkdir), 1u);
    }
  }
}

TEST_F(TransferTest, FailedTransferReportsTheLibrarysError) {
  fake.files.Write("/tmp/x", "x");
  fake.ftp.putFails = ERROR_INTERNET_CONNECTION_ABORTED;
  EXPECT_EQ(control.PutFile(u"/tmp/x", u"docs/a.doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"Connection with the server has been terminated.\r\n错误号：12030");
  EXPECT_TRUE(fake.files.Exists("/tmp/x"));
  EXPECT_EQ(control.state().sUid, u"clerk") << "nothing is reset after a failure";
}

TEST_F(TransferTest, SizeCheckFailuresLeaveTheDocumentInPlace) {
  fake.files.Write("/tmp/x", "1234");
  fake.ftp.remoteSizeOverride = 3;
  EXPECT_EQ(control.PutFile(u"/tmp/x", u"docs/a.doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"传到远程的文件长度和本地的不一致：本地=4 远程=3\\r\\n/tmp/x\\r\\n3");
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/a.doc"), "document v1");
  EXPECT_EQ(fake.ftp.remoteFiles.at("docs/a.doc.new"), "1234");
  EXPECT_EQ(Count("rename"), 0u);
}

TEST_F(TransferTest, RefusedFinalRenamePutsThePreviousVersionBack) {
  fake.ftp.remoteFiles["docs/a.doc.old"] = "document v0";
  fake.files.Write("/tmp/x", "document v2");
  auto& ftp = fake.ftp;
  ftp.renameFailsFrom.insert("docs/a.doc.new");
  EXPECT_EQ(control.PutFile(u"/tmp/x", u"docs/a.doc", 1), -1);
  EXPECT_EQ(control.getErrorMsg(), u"把上传的临时文件改为正常文件时出错：docs/a.doc.new");
  EXPECT_EQ(ftp.remoteFiles.at("docs/a.doc"), "document v1") << "the document never disappears";
  EXPECT_EQ(ftp.remoteFiles.at("docs/a.doc.new"), "document v2");
  EXPECT_TRUE(fake.files.Exists("/tmp/x"));
}

}  // namespace
}  // namespace kadroo
