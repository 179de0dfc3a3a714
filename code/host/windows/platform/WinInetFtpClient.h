#pragma once
// The FTP operations over WinINet's ANSI entry points, with the arguments the control passes. Each operation
// records GetLastError right after the call it makes (0 on success).
//
// Beyond WinINet: text that would inject FTP commands (CR, LF, NUL) is refused with 123 and text the code page
// cannot hold with 1113 before WinINet sees either. A download is placed as host/ftp/DownloadPlacement.h says,
// because WinINet deletes its local file when a transfer fails, even one that existed before. A find of a missing
// path leaves 18 where Wine
// leaves 0. WinINet neither reports the size a 150 reply announced nor checks where an active-mode data
// connection comes from; this layer cannot add either.
//
// WinINet tells nothing while FtpGetFileA or FtpPutFileA runs. A download's progress is read from the size of the
// file it is received into, a few times a second, by a thread of its own, with the total known only at the end;
// an upload reports its size once it has gone. Neither changes what WinINet does.
#include "ftp/FtpClient.h"
#include "ftp/TransferObserver.h"
#include "control/HandleTable.h"

#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

class WinInetFtpClient final : public FtpClient {
 public:
  // `lastError` and `codePage` must outlive the client.
  WinInetFtpClient(LastError& lastError, CodePage& codePage) : lastError_(lastError), codePage_(codePage) {}
  ~WinInetFtpClient() override;
  WinInetFtpClient(const WinInetFtpClient&) = delete;
  WinInetFtpClient& operator=(const WinInetFtpClient&) = delete;

  Handle InternetOpen(TextView agent, uint32_t accessType, TextView proxy, TextView proxyBypass,
                      uint32_t flags) override;
  Handle InternetConnect(Handle session, TextView server, uint16_t port, TextView user, TextView password,
                         uint32_t service, uint32_t flags, uintptr_t context) override;
  bool FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists, uint32_t attributes,
                  uint32_t flags, uintptr_t context) override;
  bool FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t flags, uintptr_t context) override;
  Handle FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t flags,
                          uintptr_t context) override;
  bool FtpRenameFile(Handle connect, TextView existing, TextView renamed) override;
  bool FtpDeleteFile(Handle connect, TextView remote) override;
  bool FtpCreateDirectory(Handle connect, TextView directory) override;
  // Closes the handles opened under `handle` first, as WinINet invalidates them with their parent.
  bool InternetCloseHandle(Handle handle) override;

  void SetTransferObserver(TransferObserver* observer) { observer_ = observer; }

 private:
  struct Entry {
    unique_hinternet internet;
    Handle parent = 0;
  };
  // The WinINet handle behind `handle`, or null with ERROR_INVALID_HANDLE recorded.
  HINTERNET Lookup(Handle handle);
  void CloseChildren(Handle parent);

  LastError& lastError_;
  CodePage& codePage_;
  HandleTable<Entry> handles_;
  TransferObserver* observer_ = nullptr;
};

}  // namespace kadroo::windows
