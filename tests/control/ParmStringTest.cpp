#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "ftp/FtpClient.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

using testing::FakePlatform;

struct ParmCase {
  const char16_t* text;
  const char16_t* split;
  const char16_t* uid;
  const char16_t* path;
  const char16_t* pass;
};

void PrintTo(const ParmCase& c, std::ostream* os) { *os << testing::Narrow(c.text) << " split " << testing::Narrow(c.split); }

class ParmStringTable : public ::testing::TestWithParam<ParmCase> {};

TEST_P(ParmStringTable, SetparmPicksOutTheThreeValues) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  const ParmCase& c = GetParam();
  control.setparm(c.text, c.split, 0);
  EXPECT_EQ(control.state().sParm, c.text);
  EXPECT_EQ(control.state().sUid, c.uid);
  EXPECT_EQ(control.state().sServer, c.path);
  EXPECT_EQ(control.state().sPass, c.pass);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ParmStringTable,
    ::testing::Values(
        ParmCase{u"uid=clerk;path=192.0.2.10:2121;pass=S3cr=t;Pw", u";", u"clerk", u"192.0.2.10:2121", u"S3cr=t"},
        ParmCase{u"UID=Clerk;PATH=192.0.2.10", u";", u"Clerk", u"192.0.2.10", u""},
        ParmCase{u"myuid=a;uid=b", u";", u"b", u"", u""},
        ParmCase{u"uid=a;uid=b", u";", u"a", u"", u""},
        ParmCase{u"uid=;path=192.0.2.10", u";", u"", u"192.0.2.10", u""},
        ParmCase{u"uid =a", u";", u"", u"", u""},
        ParmCase{u"uid=a; path=192.0.2.10", u";", u"a", u"", u""},
        ParmCase{u"path=192.0.2.10", u";", u"", u"192.0.2.10", u""},
        ParmCase{u"uid=a&&path=192.0.2.10", u"&&", u"a", u"192.0.2.10", u""},
        ParmCase{u"password=x;pass=y", u";", u"", u"", u"y"},
        ParmCase{u"id=x;uid=y", u";", u"y", u"", u""},
        ParmCase{u"uid= a ;pass=P A", u";", u" a ", u"", u"P A"},
        ParmCase{u"uid=a;path=h;", u";", u"a", u"h", u""},
        ParmCase{u"uid=a;path=h", u"", u"a", u"h", u""},
        ParmCase{u"uid=a;path=h", u"   ", u"a", u"h", u""},
        ParmCase{u"uid=a;path=b", u" ; ", u"a;path=b", u"", u""},
        ParmCase{u"uid=a ; path=b", u" ; ", u"a", u"b", u""},
        ParmCase{u"uid=a\tpath=b", u"\t", u"a", u"b", u""},
        ParmCase{u"uid=aANDpath=bandpass=c", u"and", u"a", u"b", u"c"},
        ParmCase{u"", u";", u"", u"", u""},
        ParmCase{u"UiD=张三;PaTh=服务器:21;PASS=密码", u";", u"张三", u"服务器:21", u"密码"}));

TEST(Setparm, PassiveFlagOnlyForOne) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  const std::pair<int32_t, int32_t> cases[] = {
      {1, static_cast<int32_t>(INTERNET_FLAG_PASSIVE)}, {0, 0}, {2, 0}, {-1, 0}};
  for (auto [given, expected] : cases) {
    control.setparm(u"uid=a", u";", given);
    EXPECT_EQ(control.state().lConnectFlags, expected) << "aUseInternetFlagPassive=" << given;
  }
}

TEST(Setparm, SecondCallReplacesAllValuesAndEmptiesPortAndMessage) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  control.setparm(u"uid=a;path=host:2121;pass=p", u";", 1);
  ASSERT_EQ(control.GetFileToFile(u"", u""), -1);  // connects, splits the port, leaves a message
  ASSERT_EQ(control.state().sPort, u"2121");
  ASSERT_NE(control.getErrorMsg(), u"");
  control.setparm(u"uid=b", u";", 0);
  EXPECT_EQ(control.state().sUid, u"b");
  EXPECT_EQ(control.state().sServer, u"");
  EXPECT_EQ(control.state().sPass, u"");
  EXPECT_EQ(control.state().sPort, u"");
  EXPECT_EQ(control.getErrorMsg(), u"");
}

TEST(Setparm, LeavesPathsAndHandlesAlone) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  control.setLocalFile(u"/tmp/x");
  control.setparm(u"uid=a", u";", 0);
  EXPECT_EQ(control.getLocalFile(), u"/tmp/x");
}

}  // namespace
}  // namespace kadroo
