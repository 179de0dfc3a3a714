#pragma once
// The FTP client of the Windows build, and the one place where each connection's client is chosen. Plain FTP stays
// on WinINet exactly as before. A connection that must use TLS, because the page asked for it ("tls=1", which
// arrives as INTERNET_FLAG_SECURE) or the administrator's FtpTls setting names its server, goes to our FTP engine
// over Winsock and Schannel: WinINet has no FTP over TLS. The handles of both are numbered here, so that the
// control sees one client.
#include <memory>

#include "ftp/FtpClient.h"
#include "host/ftp/FtpEngine.h"
#include "host/windows/net/WindowsNetwork.h"
#include "host/windows/platform/WinInetFtpClient.h"
#include "host/windows/platform/WindowsFiles.h"

namespace kadroo::windows {

class WindowsFtpClient final : public FtpClient {
 public:
  // `lastError` and `codePage` must outlive the client; `tls` are the administrator's settings.
  WindowsFtpClient(LastError& lastError, CodePage& codePage, FtpTlsSettings tls);
  ~WindowsFtpClient() override;

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
  bool FtpCommand(Handle connect, TextView command, Text& response) override;
  bool InternetCloseHandle(Handle handle) override;

  void SetTransferObserver(TransferObserver* observer);

 private:
  struct Entry {
    FtpClient* client = nullptr;  // the client of a connection or find; null for a session, which has one in each
    Handle inner = 0;             // its handle there (a session's WinINet handle)
    Handle engineSession = 0;     // a session's handle in the engine, opened at its first TLS connection
    Handle parent = 0;
  };
  // The entry of `handle` of the kind asked, or null with 6 recorded (WinINet's client records 6 for a handle it
  // does not know too).
  Entry* Lookup(Handle handle, bool session);
  bool NeedsTls(TextView server, uint16_t port, uint32_t flags);
  void Forget(Handle handle);

  LastError& lastError_;
  CodePage& codePage_;
  FtpTlsSettings tls_;
  WinInetFtpClient wininet_;
  net::WindowsNetwork network_;
  WindowsFiles files_;
  ftp::FtpEngine engine_;
  HandleTable<Entry> handles_;
};

}  // namespace kadroo::windows
