#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "ftp/FtpClient.h"
#include "support/FakePlatform.h"
#include "support/TestData.h"

namespace kadroo {
namespace {

using testing::FakePlatform;

TEST(ParmStringTable, SetparmPicksOutTheThreeValues) {
  const auto cases = testing::LoadTestData("parm_strings.json");
  ASSERT_GT(cases.size(), 10u);
  for (const auto& c : cases) {
    FakePlatform fake;
    KadroOcx control(fake.platform);
    control.setparm(testing::JsonText(c["text"]), testing::JsonText(c["split"]), 0);
    const std::string label = c.dump();
    EXPECT_EQ(control.state().sParm, testing::JsonText(c["text"])) << label;
    EXPECT_EQ(control.state().sUid, testing::JsonText(c["uid"])) << label;
    EXPECT_EQ(control.state().sServer, testing::JsonText(c["path"])) << label;
    EXPECT_EQ(control.state().sPass, testing::JsonText(c["pass"])) << label;
  }
}

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
