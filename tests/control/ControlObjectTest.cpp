#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

using testing::FakePlatform;

class ControlObjectTest : public ::testing::Test {
 protected:
  FakePlatform fake;
  KadroOcx control{fake.platform};
};

TEST_F(ControlObjectTest, NewObjectIsEmptyAndInstalled) {
  EXPECT_EQ(control.isInstalled(), 1);
  EXPECT_EQ(control.getMoBanFile(), u"");
  EXPECT_EQ(control.getLocalFile(), u"");
  EXPECT_EQ(control.getRemoteFile(), u"");
  EXPECT_EQ(control.getErrorMsg(), u"");
  EXPECT_EQ(control.getTiShiMsg(), u"");
  const auto& s = control.state();
  EXPECT_EQ(s.hConnect, 0);
  EXPECT_EQ(s.hInternet, 0);
  EXPECT_EQ(s.lConnectFlags, 0);
  EXPECT_EQ(s.tLastLocalFind, FindData{});
  EXPECT_EQ(control.Dispose(), 1);
  EXPECT_TRUE(fake.files.deleted.empty());
}

TEST_F(ControlObjectTest, SetLocalFileStoresTextUnchanged) {
  const Text spaces = u"   ";
  EXPECT_EQ(control.setLocalFile(spaces), 1);
  EXPECT_EQ(control.getLocalFile(), spaces);
  EXPECT_EQ(control.Dispose(), 1);
  EXPECT_TRUE(fake.files.deleted.empty()) << "a path of spaces names no file";

  const Text padded = u" /tmp/a b.doc ";
  control.setLocalFile(padded);
  EXPECT_EQ(control.getLocalFile(), padded);
  EXPECT_EQ(control.getRemoteFile(), u"");
}

TEST_F(ControlObjectTest, DisposeDeletesTheStoredPathNotTheTrimmedOne) {
  fake.files.Write(" /tmp/doc.tmp", "x");
  fake.files.Write("/tmp/doc.tmp", "y");
  control.setLocalFile(u" /tmp/doc.tmp");
  EXPECT_EQ(control.Dispose(), 1);
  EXPECT_FALSE(fake.files.Exists(" /tmp/doc.tmp"));
  EXPECT_TRUE(fake.files.Exists("/tmp/doc.tmp"));
  EXPECT_EQ(control.getLocalFile(), u" /tmp/doc.tmp") << "Dispose changes no field";
}

TEST_F(ControlObjectTest, DisposeIgnoresFilesThatAreGone) {
  control.setLocalFile(u"/tmp/missing.tmp");
  EXPECT_EQ(control.Dispose(), 1);
  EXPECT_EQ(control.Dispose(), 1);
  EXPECT_EQ(fake.files.deleted.size(), 2u);
}

}  // namespace
}  // namespace kadroo
