// The FTP client against a scripted server: the exact commands it sends, and what it reports when the server
// misbehaves. No local file may be lost on the way.
#include <gtest/gtest.h>

#include "FtpTestSupport.h"
#include "support/FakeFtpServer.h"
#include "support/TempDir.h"

namespace kadroo::testing {
namespace {

using Commands = std::vector<std::string>;

class FaultTest : public ::testing::Test {
 protected:
  explicit FaultTest(FakeFtpServer::Options options = {}, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                     const std::string& charset = "UTF-8")
      : server(std::move(options)), ftp(timeout, charset) {}

  Handle Connect(uint32_t flags = INTERNET_FLAG_PASSIVE) {
    if (!session) session = ftp.Open();
    return ftp.Connect(session, server.host(), server.port(), server.user(), server.password(), flags);
  }
  // Closes everything, so that the server has seen the QUIT before the test reads its commands.
  Commands CloseAndCommands() {
    if (session) ftp.client.InternetCloseHandle(session);
    session = 0;
    return server.Commands();
  }
  std::string Local(const std::string& name) const { return (local / name).string(); }

  FakeFtpServer server;
  ClientUnderTest ftp;
  TempDir local{"kadroo-ftp-fault"};
  Handle session = 0;
};

const Commands kLogin = {"USER user", "PASS pass"};
Commands Then(Commands head, const Commands& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST_F(FaultTest, PassiveDownloadSendsTypeEpsvRetrAndQuit) {
  server.SetFile("doc/a.txt", "hello");
  const Handle c = Connect();
  ASSERT_GT(c, 0) << ftp.error.code;
  ASSERT_TRUE(ftp.Get(c, "doc/a.txt", Local("a"))) << ftp.error.code;
  ASSERT_TRUE(ftp.Get(c, "doc/a.txt", Local("b"))) << ftp.error.code;
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"TYPE I", "EPSV", "RETR doc/a.txt", "EPSV", "RETR doc/a.txt", "QUIT"}));
  EXPECT_EQ(ReadWholeFile(local / "a"), "hello");
}

TEST_F(FaultTest, ActiveUploadSendsEprtWithTheControlConnectionsAddress) {
  WriteWholeFile(local / "u", "upload");
  const Handle c = Connect(0);
  ASSERT_TRUE(ftp.Put(c, Local("u"), "u.new")) << ftp.error.code;
  const Commands commands = CloseAndCommands();
  ASSERT_EQ(commands.size(), 6u);
  EXPECT_EQ(commands[2], "TYPE I");
  EXPECT_EQ(commands[3].rfind("EPRT |1|127.0.0.1|", 0), 0u) << commands[3];
  EXPECT_EQ(commands[4], "STOR u.new");
  EXPECT_EQ(commands[5], "QUIT");
  EXPECT_EQ(server.File("u.new"), "upload");
}

TEST_F(FaultTest, RefusedEpsvFallsBackToPasvForTheRestOfTheConnection) {
  server.SetFile("a", "A");
  server.Reply("EPSV", "500 EPSV not understood.");
  const Handle c = Connect();
  ASSERT_TRUE(ftp.Get(c, "a", Local("1"))) << ftp.error.code;
  ASSERT_TRUE(ftp.Get(c, "a", Local("2"))) << ftp.error.code;
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"TYPE I", "EPSV", "PASV", "RETR a", "PASV", "RETR a", "QUIT"}));
  EXPECT_EQ(ReadWholeFile(local / "2"), "A");
}

TEST_F(FaultTest, RefusedEprtFallsBackToPort) {
  server.SetFile("a", "A");
  server.Reply("EPRT", "502 EPRT not implemented.");
  const Handle c = Connect(0);
  ASSERT_TRUE(ftp.Get(c, "a", Local("1"))) << ftp.error.code;
  ASSERT_TRUE(ftp.Get(c, "a", Local("2"))) << ftp.error.code;
  const Commands commands = CloseAndCommands();
  ASSERT_EQ(commands.size(), 9u);
  EXPECT_EQ(commands[3].rfind("EPRT |1|127.0.0.1|", 0), 0u);
  EXPECT_EQ(commands[4].rfind("PORT 127,0,0,1,", 0), 0u) << commands[4];
  EXPECT_EQ(commands[5], "RETR a");
  EXPECT_EQ(commands[6].rfind("PORT 127,0,0,1,", 0), 0u) << commands[6];
  EXPECT_EQ(ReadWholeFile(local / "2"), "A");
}

class MultiLineTest : public FaultTest {
 protected:
  MultiLineTest() : FaultTest({.greeting = "220-Welcome\n220-220 is not the end\n123 nor this\n220 ready"}) {}
};

TEST_F(MultiLineTest, RepliesOfManyLinesKeepTheClientInStep) {
  server.SetFile("a", "A");
  server.Reply("TYPE", "200-Switching\n200-to binary\n200 done");
  const Handle c = Connect();
  ASSERT_GT(c, 0) << ftp.error.code;
  ASSERT_TRUE(ftp.Get(c, "a", Local("a"))) << ftp.error.code;
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"TYPE I", "EPSV", "RETR a", "QUIT"}));
}

TEST_F(FaultTest, DataDroppedMidRetrLeavesTheLocalFile) {
  server.SetFile("big", Pattern(1 << 20));
  server.DropData("RETR", 100'000);
  WriteWholeFile(local / "doc", "my edits");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Get(c, "big", Local("doc")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(ReadWholeFile(local / "doc"), "my edits");
  EXPECT_EQ(Listing(local.path()), Commands{"doc"});
}

TEST_F(FaultTest, ShortDataConfirmedWith226IsStillAFailure) {
  // The 150 reply announced the whole size; fewer bytes arrived although the server says it is done.
  server.SetFile("big", Pattern(1 << 20));
  server.DropData("RETR", 1000, "226 Transfer complete.");
  WriteWholeFile(local / "doc", "my edits");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Get(c, "big", Local("doc")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(ReadWholeFile(local / "doc"), "my edits");
  EXPECT_EQ(Listing(local.path()), Commands{"doc"});
}

TEST_F(FaultTest, FirstRetrDeliversNothingThenTheFile) {
  server.SetFile("a", "content");
  server.SendData("RETR a", "", 1);
  WriteWholeFile(local / "a", "stale");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Get(c, "a", Local("a")));
  EXPECT_EQ(ftp.error.code, ERROR_HANDLE_EOF) << "an empty download does not replace an existing file";
  EXPECT_EQ(ReadWholeFile(local / "a"), "stale");
  EXPECT_EQ(Listing(local.path()), Commands{"a"});
  ASSERT_TRUE(ftp.Get(c, "a", Local("a"))) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "a"), "content");
}

TEST_F(FaultTest, DataDroppedMidStor) {
  WriteWholeFile(local / "doc", Pattern(32 << 20));
  server.DropData("STOR", 65536);
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Put(c, Local("doc"), "doc.new"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(std::filesystem::file_size(local / "doc"), 32u << 20);
  // The control connection survived: the next command works.
  EXPECT_TRUE(ftp.client.FtpDeleteFile(c, u"doc.new")) << ftp.error.code;
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"TYPE I", "EPSV", "STOR doc.new", "DELE doc.new", "QUIT"}));
}

TEST_F(FaultTest, NegativeTransferRepliesMapToTheirCodes) {
  server.SetFile("a", "A");
  const std::pair<std::string, int32_t> cases[] = {
      {"425 Can't open data connection.", ERROR_INTERNET_CANNOT_CONNECT},
      {"426 Connection closed; transfer aborted.", ERROR_INTERNET_CONNECTION_ABORTED},
      {"550 Permission denied.", ERROR_INTERNET_EXTENDED_ERROR},
      {"451 Local error.", ERROR_INTERNET_EXTENDED_ERROR},
  };
  const Handle c = Connect();
  for (const auto& [reply, code] : cases) {
    server.Reply("RETR", reply, 1);
    EXPECT_FALSE(ftp.Get(c, "a", Local("a"))) << reply;
    EXPECT_EQ(ftp.error.code, code) << reply;
  }
  EXPECT_EQ(Listing(local.path()), Commands{});
  EXPECT_TRUE(ftp.Get(c, "a", Local("a"))) << ftp.error.code;
}

TEST_F(FaultTest, ServiceClosingMidSessionGives12111AndEndsTheConnection) {
  const Handle c = Connect();
  server.Reply("DELE", "421 Service not available, closing control connection.");
  EXPECT_FALSE(ftp.client.FtpDeleteFile(c, u"x"));
  EXPECT_EQ(ftp.error.code, ERROR_FTP_DROPPED);
  EXPECT_FALSE(ftp.client.FtpCreateDirectory(c, u"d"));
  EXPECT_EQ(ftp.error.code, ERROR_FTP_DROPPED);
  EXPECT_TRUE(ftp.client.InternetCloseHandle(c));
  // Nothing more went to the dead connection, QUIT included.
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"DELE x"}));
}

TEST_F(FaultTest, ServiceClosingAtLoginGives12111) {
  server.Reply("USER", "421 Too many users.");
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, ERROR_FTP_DROPPED);
}

TEST_F(FaultTest, ControlConnectionClosedGives12030ThenTheSessionIsDropped) {
  server.SetFile("a", "A");
  WriteWholeFile(local / "a", "mine");
  server.HangUp("RETR");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Get(c, "a", Local("a")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(ReadWholeFile(local / "a"), "mine");
  EXPECT_FALSE(ftp.Get(c, "a", Local("a")));
  EXPECT_EQ(ftp.error.code, ERROR_FTP_DROPPED);
}

TEST_F(FaultTest, RefusedLoginSaysWhichPartWasRefused) {
  server.Reply("USER", "530 This user may not log in.", 1);
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, 12013) << "user name refused";
  server.Reply("PASS", "530 Login incorrect.", 1);
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, 12014) << "password refused";
  server.Reply("PASS", "332 Need account for login.", 1);
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_LOGIN_FAILURE) << "any other login failure";
  server.Reply("USER", "500 Unknown command.", 1);
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_LOGIN_FAILURE);
  EXPECT_EQ(server.Commands(), (Commands{"USER user", "USER user", "PASS pass", "USER user", "PASS pass",
                                         "USER user"}));
}

TEST_F(FaultTest, LoginWithoutPasswordStep) {
  server.Reply("USER", "230 No password needed.");
  EXPECT_GT(Connect(), 0) << ftp.error.code;
  EXPECT_EQ(CloseAndCommands(), (Commands{"USER user", "QUIT"}));
}

TEST_F(FaultTest, LineBreaksAndNulAreRefusedBeforeAnythingIsSent) {
  const Handle c = Connect();
  ASSERT_GT(c, 0);
  WriteWholeFile(local / "u", "u");
  FindData record;
  for (const Text& bad : {Text(u"a\r\nDELE b"), Text(u"a\nb"), Text(u"a\rb"), Text(u"a\0b", 3)}) {
    EXPECT_FALSE(ftp.client.FtpGetFile(c, bad, T(Local("x")), false, 0, 0, 0));
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_FALSE(ftp.client.FtpPutFile(c, T(Local("u")), bad, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_EQ(ftp.client.FtpFindFirstFile(c, bad, record, 0, 0), 0);
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_FALSE(ftp.client.FtpRenameFile(c, u"ok", bad));
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_FALSE(ftp.client.FtpRenameFile(c, bad, u"ok"));
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_FALSE(ftp.client.FtpDeleteFile(c, bad));
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_FALSE(ftp.client.FtpCreateDirectory(c, bad));
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_EQ(ftp.client.InternetConnect(session, T(server.host()), server.port(), bad, u"p", INTERNET_SERVICE_FTP,
                                         0, 0), 0);
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
    EXPECT_EQ(ftp.client.InternetConnect(session, T(server.host()), server.port(), u"user", bad,
                                         INTERNET_SERVICE_FTP, 0, 0), 0);
    EXPECT_EQ(ftp.error.code, ERROR_INVALID_NAME);
  }
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"QUIT"}));
}

class Latin1Test : public FaultTest {
 protected:
  Latin1Test() : FaultTest({}, std::chrono::seconds(5), "ISO-8859-1") {}
};

TEST_F(Latin1Test, NamesTheCodePageCannotHoldAreRefusedNotMangled) {
  server.SetFile("caf\xe9.txt", "latin");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.client.FtpGetFile(c, u"报告.txt", T(Local("x")), false, 0, 0, 0));
  EXPECT_EQ(ftp.error.code, ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_FALSE(ftp.client.FtpDeleteFile(c, u"caf\u00e9 \u20ac"));  // the euro sign is not in Latin-1
  EXPECT_EQ(ftp.error.code, ERROR_NO_UNICODE_TRANSLATION);
  FindData record;
  EXPECT_EQ(ftp.client.FtpFindFirstFile(c, u"\u4e2d", record, 0, 0), 0);
  EXPECT_EQ(ftp.error.code, ERROR_NO_UNICODE_TRANSLATION);
  // What Latin-1 holds goes out in Latin-1.
  ASSERT_TRUE(ftp.client.FtpGetFile(c, u"caf\u00e9.txt", T(Local("x")), false, 0, 0, 0)) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "x"), "latin");
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"TYPE I", "EPSV", "RETR caf\xe9.txt", "QUIT"}));
}

class ShortTimeoutTest : public FaultTest {
 protected:
  ShortTimeoutTest() : FaultTest({}, std::chrono::milliseconds(300)) {}
};

TEST_F(ShortTimeoutTest, StalledReplyGives12002AndKeepsTheLocalFile) {
  server.SetFile("a", "A");
  server.Stall("RETR");
  WriteWholeFile(local / "a", "mine");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Get(c, "a", Local("a")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(ReadWholeFile(local / "a"), "mine");
  EXPECT_EQ(Listing(local.path()), Commands{"a"});
}

TEST_F(ShortTimeoutTest, StalledDataConnectionGives12002) {
  server.SetFile("big", Pattern(1 << 20));
  server.StallData("RETR", 4096);
  WriteWholeFile(local / "doc", "mine");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Get(c, "big", Local("doc")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(ReadWholeFile(local / "doc"), "mine");
  EXPECT_EQ(Listing(local.path()), Commands{"doc"});
}

TEST_F(ShortTimeoutTest, StalledUploadGives12002) {
  WriteWholeFile(local / "doc", Pattern(32 << 20));
  server.StallData("STOR", 4096);
  const Handle c = Connect();
  EXPECT_FALSE(ftp.Put(c, Local("doc"), "doc.new"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_TIMEOUT);
}

TEST_F(ShortTimeoutTest, StalledLoginGives12002) {
  server.Stall("USER");
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_TIMEOUT);
}

TEST_F(FaultTest, FindUsesSizeAndMdtmWithoutMlst) {
  server.SetFile("d/a.txt", "12345");
  const Handle c = Connect();
  FindData record;
  const Handle f = ftp.Find(c, "d/a.txt", record);
  ASSERT_GT(f, 0) << ftp.error.code;
  EXPECT_EQ(record.nFileSizeLow, 5u);
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_STREQ(record.cFileName, "a.txt");
  EXPECT_EQ(record.ftLastWriteTime.Ticks(), (1709210096ull + 11644473600ull) * 10'000'000ull);
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"FEAT", "TYPE I", "SIZE d/a.txt", "MDTM d/a.txt", "QUIT"}));
}

TEST_F(FaultTest, WhatFeatSaidIsRememberedForTheNextConnection) {
  server.SetFile("a", "AAA");
  for (int i = 0; i < 2; ++i) {
    const Handle c = Connect();
    FindData record;
    const Handle f = ftp.Find(c, "a", record);
    ASSERT_NE(f, 0);
    EXPECT_EQ(record.FileSize(), 3u);
    ftp.client.InternetCloseHandle(f);
    ftp.client.InternetCloseHandle(c);
  }
  const Commands sent = CloseAndCommands();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "FEAT"), 1);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "SIZE a"), 2);
}

TEST_F(FaultTest, FindOfADirectoryListsItsParent) {
  server.AddDirectory("d/sub");
  const Handle c = Connect();
  FindData record;
  ASSERT_GT(ftp.Find(c, "d/sub", record), 0) << ftp.error.code;
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_STREQ(record.cFileName, "sub");
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"FEAT", "TYPE I", "SIZE d/sub", "EPSV", "LIST d", "QUIT"}));
}

TEST_F(FaultTest, FindOfAMissingPathProbesAndGives18) {
  const Handle c = Connect();
  FindData record;
  EXPECT_EQ(ftp.Find(c, "/nothing", record), 0);
  EXPECT_EQ(ftp.error.code, ERROR_NO_MORE_FILES);
  EXPECT_EQ(CloseAndCommands(),
            Then(kLogin, {"FEAT", "TYPE I", "SIZE /nothing", "EPSV", "LIST /", "PWD", "CWD /nothing", "QUIT"}));
}

TEST_F(FaultTest, FindReportsWhatSizeSays) {
  server.SetFile("a", "abc");
  server.Reply("SIZE a", "213 5000000000");
  const Handle c = Connect();
  FindData record;
  ASSERT_GT(ftp.Find(c, "a", record), 0) << ftp.error.code;
  EXPECT_EQ(record.FileSize(), 5'000'000'000u);
  EXPECT_EQ(record.nFileSizeHigh, 1u);
  EXPECT_EQ(record.nFileSizeLow, 705'032'704u);
}

TEST_F(FaultTest, FindParsesADosListing) {
  server.SetFile("d/x", "");
  server.Reply("SIZE", "550 Not a plain file.");
  server.SendData("LIST", "01-02-24  03:04PM       <DIR>          Folder\r\n01-02-24  03:04PM  42 x\r\n");
  const Handle c = Connect();
  FindData record;
  const Handle f = ftp.Find(c, "d/Folder", record);
  ASSERT_GT(f, 0) << ftp.error.code;
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  ftp.client.InternetCloseHandle(f);
  ASSERT_GT(ftp.Find(c, "d/x", record), 0) << ftp.error.code;
  EXPECT_EQ(record.nFileSizeLow, 42u);
}

class MlstTest : public FaultTest {
 protected:
  static FakeFtpServer::Options WithMlst() {
    FakeFtpServer::Options o;
    o.features.push_back("MLST type*;size*;modify*;");
    return o;
  }
  MlstTest() : FaultTest(WithMlst()) {}
};

TEST_F(MlstTest, FindUsesMlstWhereFeatOffersIt) {
  server.SetFile("d/a.txt", "12345");
  server.AddDirectory("d/sub");
  const Handle c = Connect();
  FindData record;
  Handle f = ftp.Find(c, "d/a.txt", record);
  ASSERT_GT(f, 0) << ftp.error.code;
  EXPECT_EQ(record.nFileSizeLow, 5u);
  EXPECT_STREQ(record.cFileName, "a.txt");
  EXPECT_EQ(record.ftLastWriteTime.Ticks(), (1709210096ull + 11644473600ull) * 10'000'000ull);
  ftp.client.InternetCloseHandle(f);
  f = ftp.Find(c, "d/sub", record);
  ASSERT_GT(f, 0) << ftp.error.code;
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  ftp.client.InternetCloseHandle(f);
  EXPECT_EQ(ftp.Find(c, "d/none", record), 0);
  EXPECT_EQ(ftp.error.code, ERROR_NO_MORE_FILES);
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"FEAT", "MLST d/a.txt", "MLST d/sub", "MLST d/none", "QUIT"}));
}

TEST_F(FaultTest, RefusedRntoGives12003AndLeavesTheFile) {
  server.SetFile("a", "A");
  server.Reply("RNTO", "553 Requested action not taken.");
  const Handle c = Connect();
  EXPECT_FALSE(ftp.client.FtpRenameFile(c, u"a", u"b"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(server.File("a"), "A");
  EXPECT_EQ(CloseAndCommands(), Then(kLogin, {"RNFR a", "RNTO b", "QUIT"}));
}

class Ipv6Test : public FaultTest {
 protected:
  Ipv6Test() : FaultTest({.ipv6 = true}) {}
};

TEST_F(Ipv6Test, TransfersOverIpv6InBothModes) {
  server.SetFile("a", "six");
  const Handle passive = Connect(INTERNET_FLAG_PASSIVE);
  ASSERT_GT(passive, 0) << ftp.error.code;
  ASSERT_TRUE(ftp.Get(passive, "a", Local("p"))) << ftp.error.code;
  const Handle active = Connect(0);
  ASSERT_TRUE(ftp.Get(active, "a", Local("a"))) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "a"), "six");
  bool sawEprt = false;
  for (const auto& command : CloseAndCommands()) sawEprt |= command.rfind("EPRT |2|::1|", 0) == 0;
  EXPECT_TRUE(sawEprt);
}

TEST_F(Ipv6Test, BracketedAddressesAreAccepted) {
  server.SetFile("a", "six");
  session = ftp.Open();
  const Handle c = ftp.Connect(session, "[::1]", server.port(), server.user(), server.password(), 0);
  ASSERT_GT(c, 0) << ftp.error.code;
}

}  // namespace
}  // namespace kadroo::testing
