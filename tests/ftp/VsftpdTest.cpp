// The FTP client against a real vsftpd, in active and in passive mode.
#include <gtest/gtest.h>

#include <filesystem>

#include "FtpTestSupport.h"
#include "support/TempDir.h"
#include "support/VsftpdServer.h"

namespace kadroo::testing {
namespace {

enum class Mode { Active, Passive };

class VsftpdTest : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    session = ftp.Open();
    ASSERT_GT(session, 0);
    connection = ftp.Connect(session, server.host(), server.port(), server.user(), server.password(), Flags());
    ASSERT_GT(connection, 0) << "login failed with " << ftp.error.code;
    ASSERT_EQ(ftp.error.code, 0);
  }
  void TearDown() override {
    if (session > 0) ftp.client.InternetCloseHandle(session);
  }
  uint32_t Flags() const { return GetParam() == Mode::Passive ? INTERNET_FLAG_PASSIVE : 0; }
  std::string Local(const std::string& name) const { return (local / name).string(); }

  VsftpdServer server;
  TempDir local{"kadroo-ftp-local"};
  ClientUnderTest ftp;
  Handle session = 0;
  Handle connection = 0;
};

TEST_P(VsftpdTest, DownloadsAFile) {
  server.WriteFile("doc/a.txt", "hello, world\r\n");
  ASSERT_TRUE(ftp.Get(connection, "/doc/a.txt", Local("a.txt"))) << ftp.error.code;
  EXPECT_EQ(ftp.error.code, 0);
  EXPECT_EQ(ReadWholeFile(local / "a.txt"), "hello, world\r\n");
  EXPECT_EQ(Listing(local.path()), std::vector<std::string>{"a.txt"});
}

TEST_P(VsftpdTest, DownloadsAnEmptyFileAndRelativePaths) {
  server.WriteFile("empty", "");
  ASSERT_TRUE(ftp.Get(connection, "empty", Local("e"))) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "e"), "");
}

TEST_P(VsftpdTest, DownloadReplacesAnExistingLocalFile) {
  server.WriteFile("a.txt", "new content");
  WriteWholeFile(local / "a.txt", "old content that is longer");
  ASSERT_TRUE(ftp.Get(connection, "a.txt", Local("a.txt"))) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "a.txt"), "new content");
  EXPECT_EQ(Listing(local.path()), std::vector<std::string>{"a.txt"});
}

TEST_P(VsftpdTest, FailedDownloadLeavesTheLocalFileAsItWas) {
  WriteWholeFile(local / "a.txt", "keep me");
  EXPECT_FALSE(ftp.Get(connection, "missing.txt", Local("a.txt")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(ReadWholeFile(local / "a.txt"), "keep me");
  EXPECT_EQ(Listing(local.path()), std::vector<std::string>{"a.txt"});
  // The connection is still usable after a refusal.
  server.WriteFile("b.txt", "b");
  EXPECT_TRUE(ftp.Get(connection, "b.txt", Local("b.txt"))) << ftp.error.code;
}

TEST_P(VsftpdTest, FailIfExistsKeepsTheLocalFile) {
  server.WriteFile("a.txt", "remote");
  WriteWholeFile(local / "a.txt", "local");
  EXPECT_FALSE(ftp.Get(connection, "a.txt", Local("a.txt"), true));
  EXPECT_EQ(ftp.error.code, 80);  // ERROR_FILE_EXISTS
  EXPECT_EQ(ReadWholeFile(local / "a.txt"), "local");
}

TEST_P(VsftpdTest, DownloadIntoAMissingLocalDirectoryFails) {
  server.WriteFile("a.txt", "remote");
  EXPECT_FALSE(ftp.Get(connection, "a.txt", Local("no/such/dir/a.txt")));
  EXPECT_EQ(ftp.error.code, 2);
}

TEST_P(VsftpdTest, BackslashesSeparateLocalDirectories) {
  server.WriteFile("a.txt", "x");
  std::filesystem::create_directory(local / "sub");
  ASSERT_TRUE(ftp.Get(connection, "a.txt", local.path().string() + "\\sub\\a.txt")) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "sub" / "a.txt"), "x");
}

TEST_P(VsftpdTest, UploadsAFile) {
  WriteWholeFile(local / "up.txt", "uploaded\n");
  server.MakeDirectory("doc");
  ASSERT_TRUE(ftp.Put(connection, Local("up.txt"), "/doc/up.txt.new")) << ftp.error.code;
  EXPECT_EQ(ftp.error.code, 0);
  EXPECT_EQ(server.ReadFile("doc/up.txt.new"), "uploaded\n");
}

TEST_P(VsftpdTest, UploadReplacesAServerFile) {
  server.WriteFile("a.txt", "old and longer");
  WriteWholeFile(local / "a.txt", "new");
  ASSERT_TRUE(ftp.Put(connection, Local("a.txt"), "a.txt")) << ftp.error.code;
  EXPECT_EQ(server.ReadFile("a.txt"), "new");
}

TEST_P(VsftpdTest, UploadOfAMissingLocalFileFailsWith2) {
  EXPECT_FALSE(ftp.Put(connection, Local("nothing"), "x"));
  EXPECT_EQ(ftp.error.code, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(server.Exists("x"));
}

TEST_P(VsftpdTest, RefusedUploadFailsWith12003) {
  WriteWholeFile(local / "a.txt", "a");
  EXPECT_FALSE(ftp.Put(connection, Local("a.txt"), "no/such/dir/a.txt"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_EXTENDED_ERROR);
}

TEST_P(VsftpdTest, LargeFileRoundTripsByteExact) {
  const std::string content = Pattern(64 << 20, 7);
  WriteWholeFile(local / "big.bin", content);
  ASSERT_TRUE(ftp.Put(connection, Local("big.bin"), "big.bin")) << ftp.error.code;
  ASSERT_EQ(std::filesystem::file_size(server.Path("big.bin")), content.size());
  ASSERT_TRUE(ftp.Get(connection, "big.bin", Local("back.bin"))) << ftp.error.code;
  EXPECT_TRUE(ReadWholeFile(local / "back.bin") == content) << "content differs";
  FindData record;
  const Handle find = ftp.Find(connection, "big.bin", record);
  ASSERT_GT(find, 0) << ftp.error.code;
  EXPECT_EQ(record.FileSize(), content.size());
}

TEST_P(VsftpdTest, FindsAFile) {
  server.WriteFile("doc/a.txt", "12345");
  FindData record;
  const Handle find = ftp.Find(connection, "/doc/a.txt", record);
  ASSERT_GT(find, 0) << ftp.error.code;
  EXPECT_EQ(ftp.error.code, 0);
  EXPECT_EQ(record.nFileSizeLow, 5u);
  EXPECT_EQ(record.nFileSizeHigh, 0u);
  EXPECT_EQ(record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_STREQ(record.cFileName, "a.txt");
  // MDTM gave the file's time: within a day of now.
  const auto mtime = std::filesystem::last_write_time(server.Path("doc/a.txt"));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(mtime).time_since_epoch()).count();
  EXPECT_EQ(record.ftLastWriteTime.Ticks() / 10'000'000, static_cast<uint64_t>(seconds) + 11644473600u);
  EXPECT_TRUE(ftp.client.InternetCloseHandle(find));
}

TEST_P(VsftpdTest, FindsADirectoryByItsParentsListing) {
  server.MakeDirectory("doc/sub");
  FindData record;
  const Handle find = ftp.Find(connection, "/doc/sub", record);
  ASSERT_GT(find, 0) << ftp.error.code;
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_STREQ(record.cFileName, "sub");
  EXPECT_NE(record.ftLastWriteTime.Ticks(), 0u);
}

TEST_P(VsftpdTest, FindsTheRootAndHiddenDirectories) {
  server.MakeDirectory(".hidden");
  for (const char* path : {"/", ".", ".hidden"}) {
    FindData record;
    const Handle find = ftp.Find(connection, path, record);
    ASSERT_GT(find, 0) << path << ": " << ftp.error.code;
    EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY) << path;
    EXPECT_TRUE(ftp.client.InternetCloseHandle(find));
  }
  // The directory probe went back where it started: relative paths still resolve from the root.
  server.WriteFile("r.txt", "r");
  EXPECT_TRUE(ftp.Get(connection, "r.txt", Local("r.txt"))) << ftp.error.code;
}

TEST_P(VsftpdTest, FindOfAMissingPathGives18) {
  server.MakeDirectory("doc");
  FindData record;
  EXPECT_EQ(ftp.Find(connection, "/doc/missing.txt", record), 0);
  EXPECT_EQ(ftp.error.code, ERROR_NO_MORE_FILES);
  EXPECT_EQ(ftp.Find(connection, "/nodir/missing.txt", record), 0);
  EXPECT_EQ(ftp.error.code, ERROR_NO_MORE_FILES);
}

TEST_P(VsftpdTest, FindWithAWildcardGivesTheFirstMatch) {
  server.WriteFile("d/only.doc", "1234");
  server.WriteFile("d/other.txt", "1");
  FindData record;
  ASSERT_GT(ftp.Find(connection, "d/*.doc", record), 0) << ftp.error.code;
  EXPECT_STREQ(record.cFileName, "only.doc");
  EXPECT_EQ(record.nFileSizeLow, 4u);
}

TEST_P(VsftpdTest, OnlyOneFindAtATime) {
  server.WriteFile("a", "a");
  FindData record;
  const Handle first = ftp.Find(connection, "a", record);
  ASSERT_GT(first, 0);
  EXPECT_EQ(ftp.Find(connection, "a", record), 0);
  EXPECT_EQ(ftp.error.code, ERROR_FTP_TRANSFER_IN_PROGRESS);
  EXPECT_TRUE(ftp.client.InternetCloseHandle(first));
  const Handle second = ftp.Find(connection, "a", record);
  EXPECT_GT(second, 0) << ftp.error.code;
  EXPECT_NE(second, connection);
  EXPECT_NE(second, session);
}

TEST_P(VsftpdTest, RenamesDeletesAndCreatesDirectories) {
  server.WriteFile("a.txt", "a");
  server.WriteFile("a.txt.old", "old backup");
  ASSERT_TRUE(ftp.client.FtpCreateDirectory(connection, u"newdir")) << ftp.error.code;
  EXPECT_TRUE(std::filesystem::is_directory(server.Path("newdir")));
  ASSERT_TRUE(ftp.client.FtpDeleteFile(connection, u"a.txt.old")) << ftp.error.code;
  EXPECT_FALSE(server.Exists("a.txt.old"));
  ASSERT_TRUE(ftp.client.FtpRenameFile(connection, u"a.txt", u"newdir/b.txt")) << ftp.error.code;
  EXPECT_EQ(ftp.error.code, 0);
  EXPECT_FALSE(server.Exists("a.txt"));
  EXPECT_EQ(server.ReadFile("newdir/b.txt"), "a");
}

TEST_P(VsftpdTest, RefusedRenameDeleteAndCreateGive12003) {
  server.MakeDirectory("exists");
  EXPECT_FALSE(ftp.client.FtpRenameFile(connection, u"missing", u"x"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_FALSE(ftp.client.FtpDeleteFile(connection, u"missing"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_FALSE(ftp.client.FtpCreateDirectory(connection, u"exists"));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_TRUE(ftp.client.FtpCreateDirectory(connection, u"exists/sub")) << ftp.error.code;
}

TEST_P(VsftpdTest, NamesInUtf8ReachTheServerUnchanged) {
  server.WriteFile("文档/报告.txt", "x");
  ASSERT_TRUE(ftp.Get(connection, "文档/报告.txt", Local("r"))) << ftp.error.code;
  FindData record;
  ASSERT_GT(ftp.Find(connection, "文档/报告.txt", record), 0) << ftp.error.code;
  EXPECT_STREQ(record.cFileName, "报告.txt");
}

TEST_P(VsftpdTest, WrongHandlesAreRefused) {
  FindData record;
  EXPECT_FALSE(ftp.Get(connection + 1000, "a", Local("a")));
  EXPECT_EQ(ftp.error.code, ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ftp.Get(session, "a", Local("a")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(ftp.Connect(connection, server.host(), server.port(), server.user(), server.password(), Flags()), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_FALSE(ftp.client.InternetCloseHandle(0));
  EXPECT_EQ(ftp.error.code, ERROR_INVALID_HANDLE);
}

TEST_P(VsftpdTest, ClosingTheSessionClosesItsConnections) {
  FindData record;
  const Handle find = ftp.Find(connection, "/", record);
  ASSERT_GT(find, 0);
  EXPECT_TRUE(ftp.client.InternetCloseHandle(session));
  EXPECT_EQ(ftp.error.code, 0);
  EXPECT_FALSE(ftp.client.FtpDeleteFile(connection, u"x"));
  EXPECT_EQ(ftp.error.code, ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ftp.client.InternetCloseHandle(find));
  EXPECT_EQ(ftp.error.code, ERROR_INVALID_HANDLE);
  session = 0;
}

TEST_P(VsftpdTest, TwoConnectionsOfOneSessionWorkSideBySide) {
  const Handle second = ftp.Connect(session, server.host(), server.port(), server.user(), server.password(), Flags());
  ASSERT_GT(second, 0) << ftp.error.code;
  server.WriteFile("a", "A");
  EXPECT_TRUE(ftp.Get(second, "a", Local("1")));
  EXPECT_TRUE(ftp.Get(connection, "a", Local("2")));
  EXPECT_TRUE(ftp.client.InternetCloseHandle(second));
  EXPECT_TRUE(ftp.Get(connection, "a", Local("3"))) << ftp.error.code;
}

INSTANTIATE_TEST_SUITE_P(Modes, VsftpdTest, ::testing::Values(Mode::Active, Mode::Passive),
                         [](const auto& info) { return info.param == Mode::Active ? "Active" : "Passive"; });

// Connecting: what goes wrong before a connection handle exists.
class VsftpdConnectTest : public ::testing::Test {
 protected:
  void SetUp() override { session = ftp.Open(); }
  ClientUnderTest ftp;
  Handle session = 0;
};

TEST_F(VsftpdConnectTest, WrongPasswordGives12014) {
  VsftpdServer server;
  EXPECT_EQ(ftp.Connect(session, server.host(), server.port(), server.user(), "wrong", 0), 0);
  EXPECT_EQ(ftp.error.code, 12014);
  // The session is still good for a login that works (PAM delays each failure by about 2 s: one is enough).
  EXPECT_GT(ftp.Connect(session, server.host(), server.port(), server.user(), server.password(), 0), 0);
}

TEST_F(VsftpdConnectTest, ClosedPortGives12029) {
  const uint16_t port = VsftpdServer::FreePort(1024, 32767);
  EXPECT_EQ(ftp.Connect(session, "127.0.0.1", port, "u", "p", 0), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CANNOT_CONNECT);
}

TEST_F(VsftpdConnectTest, UnknownHostGives12007) {
  EXPECT_EQ(ftp.Connect(session, "no-such-host.invalid", 21, "u", "p", 0), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_NAME_NOT_RESOLVED);
}

TEST_F(VsftpdConnectTest, EmptyUserGives87) {
  EXPECT_EQ(ftp.Connect(session, "127.0.0.1", 21, "", "p", 0), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INVALID_PARAMETER);
}

TEST_F(VsftpdConnectTest, PortAbove32767) {
  VsftpdServer server({.port = VsftpdServer::FreePort(40000, 60000)});
  ASSERT_GT(server.port(), 32767);
  const Handle c = ftp.Connect(session, server.host(), server.port(), server.user(), server.password(),
                               INTERNET_FLAG_PASSIVE);
  ASSERT_GT(c, 0) << ftp.error.code;
  server.WriteFile("a", "high port");
  TempDir local;
  ASSERT_TRUE(ftp.Get(c, "a", (local / "a").string())) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "a"), "high port");
}

TEST_F(VsftpdConnectTest, ServerGivenByNameLocalhost) {
  VsftpdServer server;  // listens on 127.0.0.1 only: "localhost" may resolve to ::1 first
  for (uint32_t flags : {0u, INTERNET_FLAG_PASSIVE}) {
    const Handle c = ftp.Connect(session, "localhost", server.port(), server.user(), server.password(), flags);
    ASSERT_GT(c, 0) << ftp.error.code;
    server.WriteFile("a", "by name");
    TempDir local;
    ASSERT_TRUE(ftp.Get(c, "a", (local / "a").string())) << ftp.error.code;
    EXPECT_EQ(ReadWholeFile(local / "a"), "by name");
    EXPECT_TRUE(ftp.client.InternetCloseHandle(c));
  }
}

}  // namespace
}  // namespace kadroo::testing
