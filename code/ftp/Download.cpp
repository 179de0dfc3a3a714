#include "control/KadroOcx.h"
#include "ftp/FtpClient.h"

namespace kadroo {
namespace {

constexpr char16_t kRetryNotice[] = u"第一次失败取文件失败，系统会再自动再重试一遍！";

}  // namespace

int32_t KadroOcx::getFile(const Text& szremotefile, const Text& asMobanFile) {
  if (!TrimSpaces(asMobanFile).empty()) {
    if (ConnectServer() == -1) return -1;
    sLocalFile = MakeTempFileName(u"oamoban");
    sRemoteFile = asMobanFile;
    if (DownloadFile() == -1) return -1;
    sMobanFile = sLocalFile;
    DisconnectServer();
  }
  if (ConnectServer() == -1) return -1;
  sLocalFile = MakeTempFileName(u"kadrooa");
  sRemoteFile = szremotefile;
  if (DownloadFile() == -1) return -1;
  DisconnectServer();
  return 1;
}

int32_t KadroOcx::GetFileToFile(const Text& rfilepath, const Text& lfilepath) {
  if (ConnectServer() == -1) return -1;
  if (rfilepath.empty()) return Fail(u"参数错误，没有指定远程文件路径");
  sRemoteFile = rfilepath;
  sLocalFile = lfilepath;
  if (DownloadFile() == -1) return -1;
  DisconnectServer();
  return 1;
}

int32_t KadroOcx::DownloadFile() {
  if (sRemoteFile.empty()) return Fail(u"无远程文件名参数");
  if (sLocalFile.empty()) return Fail(u"无本地文件名参数");
  if (hConnect <= 0) return Fail(u"服务器未连接");
  RunFtpQuitScript();

  auto transfer = [&] {
    return platform_.ftp.FtpGetFile(hConnect, sRemoteFile, sLocalFile, false, 0,
                                    INTERNET_FLAG_RELOAD | FTP_TRANSFER_TYPE_UNKNOWN, 0);
  };
  // The client keeps an existing local file from an empty download and says so with ERROR_HANDLE_EOF.
  auto keptFromEmptyDownload = [&] { return platform_.lastError.code == ERROR_HANDLE_EOF; };
  bool empty = false;
  if (!transfer()) {
    if (keptFromEmptyDownload()) {
      empty = true;
    } else {
      const int32_t transferError = platform_.lastError.code;
      FindData remote;  // its name filled with NULs
      const Handle search = platform_.ftp.FtpFindFirstFile(hConnect, sRemoteFile, remote, 0, 0);
      if (search == 0) {
        sErrorMsg = GetErr(0, u"服务器文件或文件夹不存在或拒绝访问。");
      } else {
        // The file is there, so the transfer's own reason (a full disk, a denied write) is what the clerk needs:
        // neither the successful search nor its closing may wipe it out, for the message or for a later GetErr.
        platform_.ftp.InternetCloseHandle(search);
        platform_.lastError.code = transferError;
        sErrorMsg = GetErr(0, u"Target is a folder， but a file name is needed？");
      }
      return -1;
    }
  }
  FindData local;
  auto readLocalRecord = [&] {
    const Handle search = platform_.files.FindFirstFile(sLocalFile, local);
    if (search <= 0) {
      sErrorMsg = u"获取本地文件属性时失败：" + sLocalFile;
      return false;
    }
    platform_.files.FindClose(search);
    return true;
  };
  // The whole 64-bit size: a file of a multiple of 4 GiB is not empty.
  if (!empty) {
    if (!readLocalRecord()) return -1;
    empty = local.FileSize() == 0;
  }
  if (empty) {
    platform_.prompt.MessageBox(kRetryNotice, kLibraryName);
    if (!transfer()) {
      if (keptFromEmptyDownload()) return Fail(u"取文件失败，取到的文件长度为0：" + sLocalFile);
      return Fail(u"试图取文件到" + sLocalFile + u"时失败！");
    }
    if (!readLocalRecord()) return -1;
    if (local.FileSize() == 0) return Fail(u"取文件失败，取到的文件长度为0：" + sLocalFile);
  }

  sLastLocalFile = sLocalFile;
  tLastLocalFind = local;
  return 1;
}

Text KadroOcx::MakeTempFileName(const Text& prefix) {
  const Text directory = platform_.files.GetTempPath();
  auto path = platform_.files.GetTempFileName(directory, prefix);
  if (!path) return Text();
  const size_t nul = path->find(u'\0');
  if (nul != Text::npos) path->resize(nul);
  return *path;
}

}  // namespace kadroo
