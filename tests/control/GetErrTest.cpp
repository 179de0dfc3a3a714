#include <gtest/gtest.h>

#include "control/KadroOcx.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

using testing::FakePlatform;

struct ErrCase {
  int32_t code;
  const char16_t* text;
};

// Every row of the table, to the character.
const ErrCase kTable[] = {
    {18, u"文件不存在或没有更多文件"},
    {32, u"共享冲突"},
    {12001, u"No more handles could be generated at this time"},
    {12002, u"操作超时，可能网络故障或目标机器不存在"},
    {12003, u"服务器扩展错误。错误号：12003。\r\nAn extended error was returned from the server。"},
    {12004, u"An internal error has occurred."},
    {12005, u"URL is invalid."},
    {12006, u"URL scheme could not be recognized, or is not supported."},
    {12007, u"Server name could not be resolved."},
    {12008, u"Requested protocol could not be located."},
    {12009, u"Request to InternetQueryOption or InternetSetOption specified an invalid option value."},
    {12010, u"Length of an option supplied to InternetQueryOption or InternetSetOption is incorrect for the type "
            u"of option specified."},
    {12011, u"Request option can not be set, only queried. "},
    {12012, u"Win32 Internet support is being shutdown or unloaded."},
    {12013, u"无法连接和登录文件服务器，用户名或密码不正确"},
    {12014, u"无法连接和登录文件服务器，用户名或密码不正确"},
    {12015, u"连接和登录文件服务器失败"},
    {12016, u"Requested operation is invalid. "},
    {12017, u"Operation was canceled, usually because the handle on which the request was operating was closed before "
            u"the operation completed."},
    {12018, u"Type of handle supplied is incorrect for this operation."},
    {12019, u"Requested operation can not be carried out because the handle supplied is not in the correct state."},
    {12020, u"Request can not be made via a proxy."},
    {12021, u"Required registry value could not be located. "},
    {12022, u"Required registry value was located but is an incorrect type or has an invalid value."},
    {12023, u"Direct network access cannot be made at this time. "},
    {12024, u"Asynchronous request could not be made because a zero context value was supplied."},
    {12025, u"Asynchronous request could not be made because a callback function has not been set."},
    {12026, u"Required operation could not be completed because one or more requests are pending."},
    {12027, u"Format of the request is invalid."},
    {12028, u"Requested item could not be located."},
    {12029, u"Attempt to connect to the server failed."},
    {12030, u"Connection with the server has been terminated."},
    {12031, u"Connection with the server has been reset."},
    {12036, u"Request failed because the handle already exists."},
    {12110, u"文件或文件夹不存在。The requested operation cannot be made on the FTP session handle because an operation "
            u"is already in progress"},
    {12111, u"文件服务器连接被中断。The FTP operation was not completed because the session was aborted "},
    // Codes without a row of their own.
    {0, u"无其他详细错误信息。"},
    {-1, u"无其他详细错误信息。"},
    {2, u"无其他详细错误信息。"},
    {12032, u"无其他详细错误信息。"},
    {12035, u"无其他详细错误信息。"},
    {12037, u"无其他详细错误信息。"},
    {INT32_MIN, u"无其他详细错误信息。"},
};

void PrintTo(const ErrCase& c, std::ostream* os) { *os << "code " << c.code; }

class GetErrTable : public ::testing::TestWithParam<ErrCase> {};

TEST_P(GetErrTable, TextThenCodeLine) {
  FakePlatform fake;
  KadroOcx control(fake.platform);
  const ErrCase& c = GetParam();
  fake.lastError.code = c.code;  // so that code 0 describes itself
  const Text expected = Text(c.text) + u"\r\n错误号：" + Decimal(c.code);
  EXPECT_EQ(control.GetErr(c.code, u""), expected);
  EXPECT_EQ(control.GetErr(c.code, u"上下文"), u"上下文\r\n" + expected);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, GetErrTable, ::testing::ValuesIn(kTable));

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
