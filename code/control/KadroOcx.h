#pragma once
// KadroOcx: the scriptable control as a plain object. Hosts (the COM server, the JSON-RPC host) call its public
// methods; every platform call goes through the Platform it was given.
#include <cstdint>
#include <map>
#include <utility>

#include "control/Platform.h"
#include "control/RuntimeError.h"
#include "control/Text.h"
#include "ftp/ServerState.h"

namespace kadroo {

// The control's fields, in declaration order. A new object has every text empty and every number 0.
struct KadroOcxState {
  Handle hConnect = 0;
  Handle hInternet = 0;
  Text sUid;
  Text sServer;
  Text sPort;
  Text sPass;
  Text sRemoteFile;
  Text sLocalFile;
  Text sMobanFile;
  Text sErrorMsg;
  Text sParm;
  int32_t lConnectFlags = 0;
  Text sTiShiMsg;
  Text sLastLocalFile;
  FindData tLastLocalFind;
};

inline constexpr char16_t kLibraryName[] = u"KadroOA";

class KadroOcx : private KadroOcxState {
 public:
  explicit KadroOcx(Platform& platform) : platform_(platform) {}
  KadroOcx(const KadroOcx&) = delete;
  KadroOcx& operator=(const KadroOcx&) = delete;

  // The scripted interface, in the order of the type library. Methods without a trap may raise RuntimeError.
  int32_t isInstalled();
  void setparm(TextView aParm, TextView aSplit, int32_t aUseInternetFlagPassive);
  Text getMoBanFile();
  Text getLocalFile();
  int32_t setLocalFile(const Text& asLocalFile);
  Text getRemoteFile();
  Text getErrorMsg();
  Text getTiShiMsg();
  int32_t getFile(const Text& szremotefile, const Text& asMobanFile);
  int32_t GetFileToFile(const Text& rfilepath, const Text& lfilepath);
  int32_t saveFile();
  int32_t PutFile(const Text& sLocalFilePath, const Text& sRemoteFilePath, const int32_t& bDeleteLocalFile);
  int32_t Dispose();
  Text GetAllRegValue(Text key);
  int32_t OpenExefile(Text filepath, Text parm);
  int32_t OpenExefileByReg(Text regkey, Text regValuename, Text parm, Text exefilename);
  Text GetErr(int32_t lErrorCode, Text serrormsg);

  // The fields, for hosts and tests that look at the state between calls.
  const KadroOcxState& state() const { return *this; }

 private:
  static Text GetParmValue(TextView text, TextView key, TextView delimiter);
  // Keeps `message` for getErrorMsg and gives the result of a call that failed.
  int32_t Fail(Text message) {
    sErrorMsg = std::move(message);
    return -1;
  }

  int32_t ConnectServer();
  int32_t DisconnectServer();
  void RunFtpQuitScript();
  // `remember`: keep the server's state of the file for the next upload to it (not for a template).
  int32_t DownloadFile(bool remember = true);
  Text MakeTempFileName(const Text& prefix);
  int32_t UploadFile();
  // The rest of saveFile and PutFile once the paths are set: connect, upload, disconnect, reset the fields.
  int32_t UploadAndReset(bool deleteLocalFiles);

  // What the server of the open connection offers, asked once per server and user.
  const ServerFeatures& Features();
  // The state of `remote` on the open connection: MLST where offered, else MDTM and (with `withSize`; only after a
  // transfer, when the connection is in binary type) SIZE; with `withHash` also the digest where one is offered.
  ServerFileState ReadServerState(const Text& remote, bool withSize, bool withHash);
  // The key of `remote` on the current server and user, for the states the control remembers.
  Text ServerKey(const Text& remote) const;
  // The SHA-256 of a local file, or empty when it cannot be read.
  std::string LocalSha256(const Text& path);
  // Keeps the version of sRemoteFile that someone else saved under a name of its own; empty when none was free.
  Text KeepOthersVersion();

  int32_t ParseRegKey(TextView sKey, uint32_t& hRoot, Text& sHead, Text& sSub);
  int32_t ReadRegValue(TextView sKey, TextView sValueName, Text& sValue);

  Platform& platform_;
  std::map<Text, ServerFeatures> features_;
  // The state of each server file as last fetched or saved by this control: an upload that finds another state
  // keeps that version before its own takes the name.
  std::map<Text, ServerFileState> known_;
};

}  // namespace kadroo
