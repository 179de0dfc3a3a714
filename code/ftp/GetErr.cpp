#include <iterator>

#include "control/KadroOcx.h"

namespace kadroo {
namespace {

struct ErrorText {
  int32_t code;
  const char16_t* text;
};

constexpr ErrorText kErrorTexts[] = {
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
    {12010, u"Length of an option supplied to InternetQueryOption or InternetSetOption is incorrect for the type of"
            u" option specified."},
    {12011, u"Request option can not be set, only queried. "},
    {12012, u"Win32 Internet support is being shutdown or unloaded."},
    {12013, u"无法连接和登录文件服务器，用户名或密码不正确"},
    {12014, u"无法连接和登录文件服务器，用户名或密码不正确"},
    {12015, u"连接和登录文件服务器失败"},
    {12016, u"Requested operation is invalid. "},
    {12017, u"Operation was canceled, usually because the handle on which the request was operating was closed "
            u"before the operation completed."},
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
    {12037, u"文件服务器的证书已过期或尚未生效，未建立加密连接"},
    {12038, u"文件服务器的证书与服务器地址不符，未建立加密连接"},
    {12044, u"文件服务器要求客户端证书，未建立加密连接"},
    {12045, u"文件服务器的证书不是受信任的证书颁发机构签发的，未建立加密连接"},
    {12110, u"文件或文件夹不存在。The requested operation cannot be made on the FTP session handle because an "
            u"operation is already in progress"},
    {12111, u"文件服务器连接被中断。The FTP operation was not completed because the session was aborted "},
    {12157, u"文件服务器不接受加密连接（FTP over TLS），或加密握手失败"},
    {12169, u"文件服务器的证书无效，或与管理员指定的证书指纹（SHA-256）不符，未建立加密连接"},
    {12170, u"文件服务器的证书已被吊销，未建立加密连接"},
};

constexpr char16_t kNoDetails[] = u"无其他详细错误信息。";

TextView TextFor(int32_t code) {
  for (const auto& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return kNoDetails;
}

}  // namespace

Text KadroOcx::GetErr(int32_t lErrorCode, Text serrormsg) {
  const int32_t code = lErrorCode == 0 ? platform_.lastError.code : lErrorCode;
  Text text(TextFor(code));
  if (!serrormsg.empty()) text = serrormsg + u"\r\n" + text;
  return text + u"\r\n错误号：" + Decimal(code);
}

}  // namespace kadroo
