#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "support/FakePlatform.h"
#include "support/TestData.h"

namespace kadroo {
namespace {

using testing::FakePlatform;

// Every row of the table to the character, and codes without a row of their own.
TEST(GetErrTable, TextThenCodeLine) {
  const auto rows = testing::LoadTestData("get_err.json");
  ASSERT_GT(rows.size(), 36u);
  for (const auto& row : rows) {
    FakePlatform fake;
    KadroOcx control(fake.platform);
    const int32_t code = row["code"].get<int32_t>();
    fake.lastError.code = code;  // so that code 0 describes itself
    const Text expected = testing::JsonText(row["text"]) + u"\r\n错误号：" + Decimal(code);
    EXPECT_EQ(control.GetErr(code, u""), expected) << "code " << code;
    EXPECT_EQ(control.GetErr(code, u"上下文"), u"上下文\r\n" + expected) << "code " << code;
  }
}

TEST(GetErr, CodeZeroDescribesTheLastPlatformError) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  fake.lastError.code = 12029;
  EXPECT_EQ(control.GetErr(0, u""), u"Attempt to connect to the server failed.\r\n错误号：12029");
  fake.lastError.code = 0;
  EXPECT_EQ(control.GetErr(0, u""), u"无其他详细错误信息。\r\n错误号：0");
}

TEST(GetErr, NonZeroCodeIgnoresTheLastPlatformError) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  fake.lastError.code = 12029;
  EXPECT_EQ(control.GetErr(12014, u""), u"无法连接和登录文件服务器，用户名或密码不正确\r\n错误号：12014");
  EXPECT_EQ(control.GetErr(-1, u""), u"无其他详细错误信息。\r\n错误号：-1");
}

TEST(GetErr, ContextOfSpacesCountsAsContext) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  EXPECT_EQ(control.GetErr(5, u"abc"), u"abc\r\n无其他详细错误信息。\r\n错误号：5");
  EXPECT_EQ(control.GetErr(5, u" "), u" \r\n无其他详细错误信息。\r\n错误号：5");
  EXPECT_EQ(control.GetErr(12003, u""),
            u"服务器扩展错误。错误号：12003。\r\nAn extended error was returned from the server。\r\n错误号：12003");
}

}  // namespace
}  // namespace kadroo
