// Saves that cross: what the control compares of a server file's versions, the replies it reads them from, the
// name it keeps another's version under, and what is no change (the walks of two clerks run against real servers).
#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "ftp/ServerState.h"
#include "ftp/Sha256.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

using testing::FakePlatform;
using testing::Narrow;

ServerFileState State(std::optional<uint64_t> size, std::string modified, std::string hash = "",
                      std::string unique = "", std::string mlstModify = "") {
  ServerFileState s;
  s.size = size;
  s.modified = std::move(modified);
  s.hash = std::move(hash);
  if (!s.hash.empty()) s.hashAlgorithm = "SHA-256";
  s.unique = std::move(unique);
  s.mlstModify = std::move(mlstModify);
  return s;
}

TEST(ServerState, WhatCountsAsAnotherVersion) {
  const struct {
    const char* what;
    ServerFileState baseline, now;
    bool changed;
  } cases[] = {
      {"same size and time", State(9, "20261210143512"), State(9, "20261210143512"), false},
      {"another size", State(9, "20261210143512"), State(10, "20261210143512"), true},
      {"another time", State(9, "20261210143512"), State(9, "20261210143513"), true},
      {"a server that rounds to the minute, unchanged", State(9, "20261210143500"), State(9, "20261210143500"), false},
      {"the same content written again", State(9, "20261210143512", "ab"), State(9, "20261210150000", "ab"),
       false},
      {"other content within the same second", State(9, "20261210143512", "ab"), State(9, "20261210143512", "cd"),
       true},
      {"a digest on one side only", State(9, "20261210143512", "ab"), State(9, "20261210143512"), false},
      {"a new file behind the name (MLST unique)", State(9, "", "", "803g1a", "20261210143512"),
       State(9, "", "", "803g1b", "20261210143512"), true},
      {"MLST then MDTM: nothing in common but the size", State(9, "", "", "803g1a", "20261210143512"),
       State(9, "20261210143513"), false},
      {"size only, unchanged", State(9, ""), State(9, ""), false},
      {"time only, changed", State(std::nullopt, "20261210143512"), State(std::nullopt, "20261210143513"), true},
  };
  for (const auto& c : cases) EXPECT_EQ(ChangedMeanwhile(c.baseline, c.now), c.changed) << c.what;
}

TEST(ServerState, Replies) {
  const ServerFeatures vsftpd = ParseFeatures("211-Features:\r\n EPRT\r\n EPSV\r\n MDTM\r\n PASV\r\n SIZE\r\n211 End");
  EXPECT_FALSE(vsftpd.mlst);
  EXPECT_FALSE(vsftpd.hash);
  const ServerFeatures proftpd = ParseFeatures(
      "211-Features:\n MDTM\n MLST modify*;perm*;size*;type*;unique*;\n HASH SHA-1*;SHA-256;MD5;CRC32\n XCRC\n"
      " XMD5\n XSHA\n XSHA1\n XSHA256\n XSHA512\n SIZE\n211 End");
  EXPECT_TRUE(proftpd.mlst);
  ASSERT_TRUE(proftpd.hash);
  EXPECT_EQ(proftpd.hash->verb, "XSHA256");
  const ServerFeatures hashOnly = ParseFeatures("211-Features:\r\n HASH SHA-1*;SHA-256;MD5\r\n211 End");
  ASSERT_TRUE(hashOnly.hash);
  EXPECT_EQ(hashOnly.hash->verb, "HASH");
  EXPECT_EQ(hashOnly.hash->algorithm, "SHA-256");
  EXPECT_TRUE(hashOnly.hash->select);
  // Wine's FtpCommandA keeps only the last line of a reply: no features, never a wrong one.
  EXPECT_FALSE(ParseFeatures("211 End").mlst);

  EXPECT_EQ(ParseSizeReply("550 Could not get file size."), std::nullopt);
  EXPECT_EQ(ParseMdtmReply("213 20261210143512.123"), "20261210143512.123");
  ServerFileState s;
  ASSERT_TRUE(ParseMlstReply("250-Start of list for /d/a b.doc\r\n modify=20261210143512;perm=adfrw;size=9;"
                             "type=file;unique=fd01U2A3;UNIX.mode=0644; /d/a b.doc\r\n250 End of list",
                             s));
  EXPECT_EQ(s.size, 9u);
  EXPECT_EQ(s.mlstModify, "20261210143512");
  EXPECT_EQ(s.unique, "fd01U2A3");
  EXPECT_FALSE(ParseMlstReply("250 End of list", s));
  const std::string hex(64, 'A');
  EXPECT_EQ(ParseHashReply("213 SHA-256 0-49 " + hex + " docs/a 1.doc", 64), std::string(64, 'a'));
  EXPECT_EQ(ParseHashReply("250 " + hex, 64), std::string(64, 'a'));
  EXPECT_EQ(ParseHashReply("550 " + hex, 64), "");
}

TEST(ServerState, Sha256) {
  Sha256 empty;
  EXPECT_EQ(empty.HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  abc.Update("ab");
  abc.Update("c");
  EXPECT_EQ(abc.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 million;
  for (int i = 0; i < 1000; ++i) million.Update(std::string(1000, 'a'));
  EXPECT_EQ(million.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ServerState, KeptName) {
  std::tm t{};
  t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 10, t.tm_hour = 14, t.tm_min = 35, t.tm_sec = 2;
  EXPECT_EQ(KeptName(u"docs/report.doc", t, 1), u"docs/report.20261210-143502.doc");
  EXPECT_EQ(KeptName(u"docs/报告.docx", t, 2), u"docs/报告.20261210-143502-2.docx");
  EXPECT_EQ(KeptName(u"a.b/README", t, 1), u"a.b/README.20261210-143502");
  EXPECT_EQ(KeptName(u".profile", t, 1), u".profile.20261210-143502");
}

// Two clerks, each with a control of their own, against one server.
class TwoClerksTest : public ::testing::Test {
 protected:
  TwoClerksTest() {
    fake.ftp.SetRemote("docs/a.doc", "version 1");
    for (KadroOcx* c : {&first, &second}) c->setparm(u"uid=clerk;path=files.example;pass=pw", u";", 1);
  }
  void Fetch(KadroOcx& c) {
    c.setparm(u"uid=clerk;path=files.example;pass=pw", u";", 1);
    ASSERT_EQ(c.getFile(u"docs/a.doc", u""), 1) << Narrow(c.getErrorMsg());
  }
  void Save(KadroOcx& c, const std::string& content) {
    fake.files.Write(Narrow(c.getLocalFile()), content);
    ASSERT_EQ(c.saveFile(), 1) << Narrow(c.getErrorMsg());
  }
  FakePlatform fake;
  KadroOcx first{fake.platform};
  KadroOcx second{fake.platform};
};

TEST_F(TwoClerksTest, OwnSavesAreNoChange) {
  fake.ftp.timeResolution = 60;  // a server that rounds its times to the minute
  for (int i = 0; i < 5; ++i) {
    first.setparm(u"uid=clerk;path=files.example;pass=pw", u";", 1);
    fake.files.Write("/tmp/mine.doc", "version " + std::to_string(i));
    ASSERT_EQ(first.PutFile(u"/tmp/mine.doc", u"docs/a.doc", 0), 1) << Narrow(first.getErrorMsg());
  }
  Fetch(first);
  Save(first, "edited");
  EXPECT_TRUE(fake.prompt.shown.empty());
  EXPECT_EQ(fake.ftp.remoteFiles.size(), 2u);
}

TEST_F(TwoClerksTest, NoSizeNoTimeNoLook) {
  fake.ftp.features = {};
  Fetch(first);
  Fetch(second);
  Save(first, "version 2");
  Save(second, "version 3");
  EXPECT_TRUE(fake.prompt.shown.empty());
  EXPECT_EQ(fake.ftp.remoteFiles["docs/a.doc.old"], "version 2") << "as before: nothing to compare";
}

}  // namespace
}  // namespace kadroo
