// The FTP client against servers and local files set up as an attacker would: a server that floods, lies or
// never ends, a stranger on the active-mode data port, and local targets that are links, read-only, or sit in a
// directory the user may not write. Nothing may hang, and no local file may change unless a download completed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FtpTestSupport.h"
#include "support/FakeFtpServer.h"
#include "support/TempDir.h"

namespace kadroo::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class HostileServerTest : public ::testing::Test {
 protected:
  explicit HostileServerTest(FakeFtpServer::Options options = {}, std::chrono::milliseconds timeout = 1s)
      : server(std::move(options)), ftp(timeout) {}

  Handle Connect(uint32_t flags = INTERNET_FLAG_PASSIVE) {
    if (!session) session = ftp.Open();
    return ftp.Connect(session, server.host(), server.port(), server.user(), server.password(), flags);
  }
  std::string Local(const std::string& name) const { return (local / name).string(); }
  double SecondsSince(Clock::time_point start) const {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  FakeFtpServer server;
  ClientUnderTest ftp;
  TempDir local{"kadroo-hostile"};
  Handle session = 0;
};

class PreliminaryFloodTest : public HostileServerTest {
 protected:
  PreliminaryFloodTest() : HostileServerTest({.preliminaryGreetings = 50}) {}
};

TEST_F(PreliminaryFloodTest, A120EveryFifthOfASecondCannotHoldTheLoginPastTheTimeout) {
  const auto start = Clock::now();
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_TIMEOUT);
  // The flood would last 10 s; the timeout is 1 s from the connect, not from the latest 120.
  EXPECT_LT(SecondsSince(start), 3.0);
}

TEST_F(HostileServerTest, AnEndlessListingEndsTheFindBySizeOrByTime) {
  server.SetFile("dir/doc", "x");
  server.Reply("SIZE", "550 Not a plain file.");
  const std::string line = "-rw-r--r-- 1 ftp ftp 10 Feb 29  2024 " + std::string(200, 'z') + "\r\n";
  // Fast: megabytes within a moment. Slow: a line every 50 ms, for ever.
  std::string burst;
  while (burst.size() < 64 * 1024) burst += line;
  server.Trickle("LIST dir", burst, 1ms, 0, 1);
  server.Trickle("LIST dir", line, 50ms, 0, 1);
  for (int round = 0; round < 2; ++round) {
    const Handle c = Connect();
    ASSERT_GT(c, 0) << ftp.error.code;
    FindData record;
    const auto start = Clock::now();
    EXPECT_EQ(ftp.Find(c, "dir/doc", record), 0) << round;
    EXPECT_EQ(ftp.error.code, ERROR_NO_MORE_FILES) << "a find given up is a find that failed";
    EXPECT_LT(SecondsSince(start), 3.0) << round;
    ftp.client.InternetCloseHandle(c);
  }
}

TEST_F(HostileServerTest, ATransferThatKeepsMovingIsNeverCutOff) {
  // 40 chunks 50 ms apart: twice the timeout in all, never idle for long.
  server.SetFile("big", "");
  server.Trickle("RETR big", std::string(1000, 'b'), 50ms, 40);
  const Handle c = Connect();
  ASSERT_TRUE(ftp.Get(c, "big", Local("big"))) << ftp.error.code;
  EXPECT_EQ(fs::file_size(local / "big"), 40000u);
}

TEST_F(HostileServerTest, ADownloadLongerOrShorterThanAnnouncedFailsAndKeepsTheFile) {
  server.SetFile("doc", "the server's twelve");
  WriteWholeFile(local / "doc", "clerk's copy");
  const Handle c = Connect();
  server.Announce("RETR doc", 5, 1);
  EXPECT_FALSE(ftp.Get(c, "doc", Local("doc")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CONNECTION_ABORTED) << "more than announced";
  server.Announce("RETR doc", 500, 1);
  EXPECT_FALSE(ftp.Get(c, "doc", Local("doc")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CONNECTION_ABORTED) << "fewer than announced";
  EXPECT_EQ(ReadWholeFile(local / "doc"), "clerk's copy");
  EXPECT_EQ(Listing(local.path()), std::vector<std::string>{"doc"});
  ASSERT_TRUE(ftp.Get(c, "doc", Local("doc"))) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "doc"), "the server's twelve");
}

TEST_F(HostileServerTest, ActiveModeTakesTheDataConnectionFromTheServerOnly) {
  server.SetFile("doc", "from the server");
  WriteWholeFile(local / "doc", "clerk's copy");
  const Handle c = Connect(0);
  ASSERT_GT(c, 0) << ftp.error.code;
  // A stranger connects first and is turned away; the server's own connection then delivers.
  server.Intrude("RETR doc", "planted bytes", true, 1);
  ASSERT_TRUE(ftp.Get(c, "doc", Local("doc"))) << ftp.error.code;
  EXPECT_EQ(ReadWholeFile(local / "doc"), "from the server");
  // Only the stranger connects: nothing is saved, and the server's 425 ends the wait.
  server.Intrude("RETR doc", "planted bytes", false, 1);
  EXPECT_FALSE(ftp.Get(c, "doc", Local("doc")));
  EXPECT_EQ(ftp.error.code, ERROR_INTERNET_CANNOT_CONNECT);
  EXPECT_EQ(ReadWholeFile(local / "doc"), "from the server");
  EXPECT_EQ(Listing(local.path()), std::vector<std::string>{"doc"});
}

TEST_F(HostileServerTest, LocalTargetsAreTreatedAsTheSystemClientTreatsThem) {
  server.SetFile("doc", "new content");
  const Handle c = Connect();
  // Read-only: refused with 5 before anything is transferred, root included.
  WriteWholeFile(local / "ro", "read-only copy");
  fs::permissions(local / "ro", fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(ftp.Get(c, "doc", Local("ro")));
  EXPECT_EQ(ftp.error.code, 5);
  EXPECT_EQ(ReadWholeFile(local / "ro"), "read-only copy");
  // A link is written through: its target gets the content and the link stays.
  fs::create_directory(local / "real");
  WriteWholeFile(local / "real/target", "old");
  fs::create_symlink(local / "real/target", local / "link");
  ASSERT_TRUE(ftp.Get(c, "doc", Local("link"))) << ftp.error.code;
  EXPECT_TRUE(fs::is_symlink(local / "link"));
  EXPECT_EQ(ReadWholeFile(local / "real/target"), "new content");
  // A failed transfer through the link leaves its target as it was, and nothing beside either.
  server.SetFile("doc", std::string(100000, 'n'));
  server.DropData("RETR doc", 1000, "426 Connection closed; transfer aborted.", 1);
  EXPECT_FALSE(ftp.Get(c, "doc", Local("link")));
  EXPECT_EQ(ReadWholeFile(local / "real/target"), "new content");
  EXPECT_EQ(Listing(local / "real"), std::vector<std::string>{"target"});
  // Something that is not a file (a FIFO here) is not written into.
  ASSERT_EQ(::mkfifo(Local("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ftp.Get(c, "doc", Local("fifo")));
  EXPECT_EQ(ftp.error.code, 5);
  EXPECT_EQ(Listing(local.path()), (std::vector<std::string>{"fifo", "link", "real", "ro"}));
}

// The user may write the file but not its directory: the download goes through a temporary file elsewhere.
// Run as another user, since root writes any directory.
TEST_F(HostileServerTest, AWritableFileInAClosedDirectoryStillReceivesTheDownload) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  constexpr uid_t kNobody = 65534;
  server.SetFile("doc", "new content");
  server.DropData("RETR doc", 1000, "426 Connection closed; transfer aborted.", 1);  // the first one fails
  const fs::path closed = local / "closed", scratch = local / "scratch";
  fs::create_directory(closed);
  fs::create_directory(scratch);
  WriteWholeFile(closed / "doc", "old");
  ASSERT_EQ(::chown(local.path().c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chown((closed / "doc").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chown(scratch.c_str(), kNobody, kNobody), 0);
  ::chmod(closed.c_str(), 0755);  // root's: closed to nobody
  ::setenv("TMPDIR", scratch.c_str(), 1);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(10);
    if (::access(closed.c_str(), W_OK) == 0) ::_exit(11);
    ClientUnderTest own(std::chrono::seconds(5));
    const Handle s = own.Open();
    const Handle c = own.Connect(s, server.host(), server.port(), server.user(), server.password(),
                                 INTERNET_FLAG_PASSIVE);
    if (c == 0) ::_exit(12);
    if (own.Get(c, "doc", (closed / "doc").string())) ::_exit(13);
    if (ReadWholeFile(closed / "doc") != "old") ::_exit(14);
    if (!own.Get(c, "doc", (closed / "doc").string())) ::_exit(15);
    ::_exit(0);
  }
  ::unsetenv("TMPDIR");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadWholeFile(closed / "doc"), "new content");
  EXPECT_EQ(Listing(closed), std::vector<std::string>{"doc"});
  EXPECT_TRUE(Listing(scratch).empty()) << "no temporary file left behind";
}

TEST_F(HostileServerTest, AFileSizeLimitEndsTheDownloadWithItsOwnCode) {
  server.SetFile("doc", std::string(1 << 20, 'd'));
  WriteWholeFile(local / "doc", "clerk's copy");
  const Handle c = Connect();
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool got = ftp.Get(c, "doc", Local("doc"));  // SIGXFSZ would have ended this process
  const int32_t code = ftp.error.code;
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(got);
  EXPECT_EQ(code, 223) << "ERROR_FILE_TOO_LARGE";
  EXPECT_EQ(ReadWholeFile(local / "doc"), "clerk's copy");
  EXPECT_EQ(Listing(local.path()), std::vector<std::string>{"doc"});
}

}  // namespace
}  // namespace kadroo::testing
