#include "control/KadroOcx.h"
#include "ftp/FtpClient.h"

namespace kadroo {
namespace {

constexpr char16_t kUnsavedEditWarning[] =
    u"提示信息：要上传的文件和原来的文件最后修改时间一样，怀疑修改没有保存成功，系统会照旧上传，但请您稍后再次打开文件来核实！";

// The part of a remote path before its last "/", or nothing when no directory is named.
Text DirectoryPart(const Text& remote) {
  const size_t slash = remote.rfind(u'/');
  if (slash == Text::npos || slash == 0) return Text();
  return remote.substr(0, slash);
}

Text UnsignedDecimal(uint64_t value) { return FromAscii(std::to_string(value)); }

constexpr char16_t kSavedMeanwhileNotice[] =
    u"提示信息：您打开文件以后，服务器上的这个文件已被别人保存过。为了不丢失别人的修改，系统已把别人保存的版本另存为：";
constexpr char16_t kSavedMeanwhileNoticeEnd[] = u"，您的文件照常上传，请您核对两个版本的内容！";

}  // namespace

int32_t KadroOcx::UploadFile() {
  sTiShiMsg.clear();
  if (sLocalFile.empty()) return Fail(u"无本地文件名");
  if (sRemoteFile.empty()) return Fail(u"无服务器文件名参数");
  FindData local;
  const Handle localSearch = platform_.files.FindFirstFile(sLocalFile, local);
  if (localSearch <= 0) return Fail(u"获取本地文件属性时失败：" + sLocalFile);
  platform_.files.FindClose(localSearch);
  if (local.FileSize() == 0) return Fail(u"本地文件长度为0，" + sLocalFile);
  if (sLocalFile == sLastLocalFile &&
      CompareFileTime(local.ftLastWriteTime, tLastLocalFind.ftLastWriteTime) == 0) {
    platform_.prompt.MessageBox(kUnsavedEditWarning, kLibraryName);
  }
  if (hConnect <= 0) return Fail(u"服务器未连接");
  RunFtpQuitScript();

  const Text temporary = sRemoteFile + u".new";
  const Text backup = sRemoteFile + u".old";

  // Creating a directory named like the document would make the next upload move it to the backup name.
  const Text directory = DirectoryPart(sRemoteFile);
  if (!directory.empty()) platform_.ftp.FtpCreateDirectory(hConnect, directory);

  if (!platform_.ftp.FtpPutFile(hConnect, sLocalFile, temporary, FTP_TRANSFER_TYPE_BINARY, 0)) {
    return Fail(GetErr(0, u""));
  }
  FindData remote;
  const Handle remoteSearch = platform_.ftp.FtpFindFirstFile(hConnect, temporary, remote, 0, 0);
  if (remoteSearch <= 0) return Fail(u"获取远程文件属性时失败：" + temporary);
  platform_.ftp.InternetCloseHandle(remoteSearch);
  if (remote.FileSize() == 0) return Fail(u"传到远程的文件长度为0：" + temporary);
  if (remote.FileSize() != local.FileSize()) {
    const Text remoteSize = UnsignedDecimal(remote.FileSize());
    return Fail(u"传到远程的文件长度和本地的不一致：本地=" + UnsignedDecimal(local.FileSize()) + u" 远程=" +
                remoteSize + u"\\r\\n" + sLocalFile + u"\\r\\n" + remoteSize);
  }

  // Where the server computes a digest, the content must be the local file's, not only its size. A rename keeps
  // size, time and digest, so this state of the temporary file is the state of the document once it is swapped in.
  ServerFileState uploaded = ReadServerState(temporary, false, true);
  if (!uploaded.size) uploaded.size = remote.FileSize();
  if (uploaded.hashAlgorithm == "SHA-256") {
    const std::string localHash = LocalSha256(sLocalFile);
    if (!localHash.empty() && localHash != uploaded.hash) {
      return Fail(u"传到远程的文件内容和本地的不一致：本地SHA-256=" + FromAscii(localHash) + u" 远程SHA-256=" +
                  FromAscii(uploaded.hash) + u"\\r\\n" + sLocalFile + u"\\r\\n" + temporary);
    }
  }

  // Another clerk's save since this control fetched or saved the document: that version is kept under a name of
  // its own instead of becoming the backup that the next upload deletes.
  const Text key = ServerKey(sRemoteFile);
  const auto baseline = known_.find(key);
  bool savedMeanwhile = false;
  bool currentDescribed = false;
  if (baseline != known_.end()) {
    const ServerFileState current = ReadServerState(sRemoteFile, true, !baseline->second.hash.empty());
    currentDescribed = current.Known();
    savedMeanwhile = currentDescribed && ChangedMeanwhile(baseline->second, current);
  }

  Text kept;
  bool previousKept = false;
  if (savedMeanwhile) {
    kept = KeepOthersVersion();
    if (kept.empty()) return Fail(u"另存服务器上别人保存的版本时出错，没有上传：" + sRemoteFile);
  } else {
    // The backup goes only when the current version exists to take its place: after an upload whose swap failed
    // half-way, P.old may be the only copy of the last good version. The look just taken may have shown it.
    bool currentExists = currentDescribed;
    if (!currentExists) {
      FindData current;
      const Handle currentSearch = platform_.ftp.FtpFindFirstFile(hConnect, sRemoteFile, current, 0, 0);
      currentExists = currentSearch > 0;
      if (currentExists) platform_.ftp.InternetCloseHandle(currentSearch);
    }
    if (currentExists) platform_.ftp.FtpDeleteFile(hConnect, backup);
    previousKept = platform_.ftp.FtpRenameFile(hConnect, sRemoteFile, backup);
  }
  if (!platform_.ftp.FtpRenameFile(hConnect, temporary, sRemoteFile)) {
    const int32_t renameError = platform_.lastError.code;
    // Put the previous version back under its own name, so that the document never disappears.
    if (previousKept) platform_.ftp.FtpRenameFile(hConnect, backup, sRemoteFile);
    if (!kept.empty()) platform_.ftp.FtpRenameFile(hConnect, kept, sRemoteFile);
    platform_.lastError.code = renameError;
    return Fail(u"把上传的临时文件改为正常文件时出错：" + temporary);
  }
  known_[key] = uploaded;
  if (savedMeanwhile) {
    sTiShiMsg = kSavedMeanwhileNotice + kept + kSavedMeanwhileNoticeEnd;
    platform_.prompt.MessageBox(sTiShiMsg, kLibraryName);
  }
  return 1;
}

int32_t KadroOcx::saveFile() { return UploadAndReset(true); }

int32_t KadroOcx::PutFile(const Text& sLocalFilePath, const Text& sRemoteFilePath, const int32_t& bDeleteLocalFile) {
  if (!sLocalFilePath.empty()) sLocalFile = sLocalFilePath;
  sRemoteFile = sRemoteFilePath;
  return UploadAndReset(bDeleteLocalFile == 1);
}

int32_t KadroOcx::UploadAndReset(bool deleteLocalFiles) {
  if (ConnectServer() == -1) return -1;
  if (UploadFile() == -1) return -1;
  DisconnectServer();
  if (deleteLocalFiles) {
    platform_.files.DeleteFile(sLocalFile);
    if (!TrimSpaces(sMobanFile).empty()) platform_.files.DeleteFile(sMobanFile);
  }
  sUid.clear();
  sServer.clear();
  sPass.clear();
  sErrorMsg.clear();
  sLocalFile.clear();
  sRemoteFile.clear();
  sMobanFile.clear();
  sPort.clear();
  return 1;
}

}  // namespace kadroo
