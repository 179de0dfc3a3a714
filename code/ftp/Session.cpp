#include "control/KadroOcx.h"
#include "desktop/Processes.h"
#include "ftp/FtpClient.h"
#include "ftp/PortText.h"

namespace kadroo {

void KadroOcx::setparm(TextView aParm, TextView aSplit, int32_t aUseInternetFlagPassive) {
  const Text delimiter = IsBlank(aSplit) ? Text(u";") : Text(aSplit);
  sParm = Text(aParm);
  sUid = GetParmValue(sParm, u"uid", delimiter);
  sServer = GetParmValue(sParm, u"path", delimiter);
  sPass = GetParmValue(sParm, u"pass", delimiter);
  sErrorMsg.clear();
  sPort.clear();
  lConnectFlags = aUseInternetFlagPassive == 1 ? static_cast<int32_t>(INTERNET_FLAG_PASSIVE) : 0;
  if (GetParmValue(sParm, u"tls", delimiter) == u"1") lConnectFlags |= static_cast<int32_t>(INTERNET_FLAG_SECURE);
}

int32_t KadroOcx::ConnectServer() {
  SkipOnError trap;
  if (sServer.empty()) return Fail(u"参数错误，没有提供服务器地址");
  if (sUid.empty()) return Fail(u"参数错误，没有提供登陆帐用户");
  // A transfer that failed earlier returned with its connection still open; close it rather than leak it.
  DisconnectServer();

  hInternet = platform_.ftp.InternetOpen(u"vb activex", INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0);
  if (hInternet == 0) return Fail(GetErr(0, u""));

  SplitServerText(sServer, sPort);

  // The port's conversion is the step that can raise: out of range, no connection is attempted.
  trap.Run([&] {
    const uint16_t port = PortNumber(sPort);
    hConnect = platform_.ftp.InternetConnect(hInternet, HostOfServerText(sServer), port, sUid, sPass,
                                             INTERNET_SERVICE_FTP, static_cast<uint32_t>(lConnectFlags), 0);
  });
  if (hConnect == 0 || trap.IsPending()) return Fail(GetErr(0, u""));
  trap.Clear();
  return 1;
}

int32_t KadroOcx::DisconnectServer() {
  if (hConnect > 0) platform_.ftp.InternetCloseHandle(hConnect);
  if (hInternet > 0) platform_.ftp.InternetCloseHandle(hInternet);
  hConnect = 0;
  hInternet = 0;
  return 1;
}

void KadroOcx::RunFtpQuitScript() {
  // Nothing relies on the command-line client, and neither the script file nor the client exists on today's
  // systems; a failure here must not turn a transfer that worked into a reported failure.
  SkipOnError ownTrap;
  const Text script = platform_.files.QuitScriptPath();
  ownTrap.Run([&] { platform_.files.WriteTextFile(script, u"quit"); });
  ownTrap.Run([&] { platform_.processes.StartProcess(u"", u"ftp -w:65535 -s:" + script, SW_SHOWMINIMIZED); });
}

}  // namespace kadroo
