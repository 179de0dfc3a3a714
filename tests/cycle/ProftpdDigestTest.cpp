// The control against proftpd with mod_digest, which offers MLST and the digest commands: two clerks save the same
// document, and every upload is proved by its SHA-256.
#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "support/DebianFtpServer.h"
#include "support/RealPlatform.h"

namespace kadroo::testing {
namespace {

namespace fs = std::filesystem;

Text T(const std::string& s) { return FromUtf8Lossy(s); }
std::string N(const Text& s) { return ToUtf8Lossy(s); }

TEST(ProftpdDigestTest, TwoClerksSaveTheSameDocument) {
  DebianFtpServer proftpd("proftpd", {"KADROOA_PROFTPD_DIGEST=1"});
  RealPlatform firstDesk, secondDesk;
  KadroOcx first{firstDesk.platform}, second{secondDesk.platform};
  auto configure = [&](KadroOcx& c) {
    c.setparm(T("uid=" + proftpd.user() + ";path=127.0.0.1:" + std::to_string(proftpd.port()) + ";pass=" +
                proftpd.password()),
              u";", 1);
  };
  auto save = [&](KadroOcx& c, const std::string& content) {
    WriteWholeFile(N(c.getLocalFile()), content);
    Touch(N(c.getLocalFile()));
    ASSERT_EQ(c.saveFile(), 1) << N(c.getErrorMsg());
  };
  proftpd.WriteFile("docs/report.doc", "version 1");
  configure(first);
  configure(second);
  ASSERT_EQ(first.getFile(u"docs/report.doc", u""), 1) << N(first.getErrorMsg());
  ASSERT_EQ(second.getFile(u"docs/report.doc", u""), 1) << N(second.getErrorMsg());
  // The same size within the same second: only the content (or the new file's identity) tells them apart.
  save(first, "version 2");
  EXPECT_TRUE(firstDesk.prompt.shown.empty());
  save(second, "version 3");

  const auto names = Listing(proftpd.Path("docs"));
  ASSERT_EQ(names.size(), 3u) << ::testing::PrintToString(names);
  EXPECT_EQ(proftpd.ReadFile("docs/" + names[0]), "version 2");
  EXPECT_EQ(proftpd.ReadFile("docs/report.doc"), "version 3");
  EXPECT_EQ(proftpd.ReadFile("docs/report.doc.old"), "version 1");
  ASSERT_EQ(secondDesk.prompt.shown.size(), 1u);
  EXPECT_NE(secondDesk.prompt.shown[0].find("另存为：docs/" + names[0] + "，"), std::string::npos);
  EXPECT_EQ(N(second.getTiShiMsg()), secondDesk.prompt.shown[0]);

  // The document written again with the same bytes (a new file, a new time): the content decides, no notice.
  const fs::path rewritten = proftpd.Path("docs/rewritten");
  fs::copy_file(proftpd.Path("docs/report.doc"), rewritten);
  fs::last_write_time(rewritten, fs::last_write_time(rewritten) + std::chrono::hours(1));
  fs::rename(rewritten, proftpd.Path("docs/report.doc"));
  const fs::path local = secondDesk.temp / "again.doc";
  WriteWholeFile(local, "version 4");
  configure(second);
  ASSERT_EQ(second.PutFile(T(local), u"docs/report.doc", 0), 1) << N(second.getErrorMsg());
  EXPECT_EQ(secondDesk.prompt.shown.size(), 1u);
  EXPECT_EQ(second.getTiShiMsg(), u"");
  EXPECT_EQ(Listing(proftpd.Path("docs")).size(), 3u) << ::testing::PrintToString(Listing(proftpd.Path("docs")));
  EXPECT_EQ(proftpd.ReadFile("docs/" + names[0]), "version 2");
  EXPECT_EQ(proftpd.ReadFile("docs/report.doc.old"), "version 3");
}

}  // namespace
}  // namespace kadroo::testing
