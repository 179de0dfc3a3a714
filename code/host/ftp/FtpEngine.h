#pragma once
// Our own FTP client, offering WinINet's FTP operations with WinINet's results and error codes, over the streams
// and files its host gives it (Stream.h).
//
// Protocol: RFC 959 login and transfers in binary type, RFC 2428 EPSV/EPRT with PASV/PORT where the server refuses
// them (remembered per connection), RFC 3659 SIZE/MDTM/MLST. In passive mode the data connection goes to the
// control connection's peer address whatever host a 227 reply names, as curl does by default: a server behind NAT
// often names a private address, and following a third host would let a server aim our connection elsewhere.
// Active mode listens on the local address of the control connection.
//
// Downloads are placed as DownloadPlacement.h says, once the server confirmed the transfer and, where the 150 reply
// announced a size, after that many bytes arrived. Transfers go through a fixed buffer or the host's fast path.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "control/HandleTable.h"
#include "control/Platform.h"
#include "ftp/FtpClient.h"
#include "ftp/TransferObserver.h"
#include "host/ftp/ControlConnection.h"
#include "host/ftp/Stream.h"

namespace kadroo::ftp {

class FtpEngine : public FtpClient {
 public:
  // Every argument must outlive the client.
  FtpEngine(LastError& lastError, CodePage& codePage, Network& network, FileSystem& files, FtpTimeouts timeouts = {});
  ~FtpEngine() override;
  FtpEngine(const FtpEngine&) = delete;
  FtpEngine& operator=(const FtpEngine&) = delete;

  Handle InternetOpen(TextView agent, uint32_t accessType, TextView proxy, TextView proxyBypass,
                      uint32_t flags) override;
  Handle InternetConnect(Handle session, TextView server, uint16_t port, TextView user, TextView password,
                         uint32_t service, uint32_t flags, uintptr_t context) override;
  bool FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists, uint32_t attributes,
                  uint32_t flags, uintptr_t context) override;
  bool FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t flags, uintptr_t context) override;
  // Without wildcards, the record of the path itself: MLST where FEAT offers it; otherwise SIZE and MDTM for a
  // file, then the parent's LIST matched by name, then CWD (and back) for a directory that no listing names
  // ("/", ".", hidden names). With '*' or '?' in the last component, the first entry of the parent's LIST that
  // matches. A missing path gives 0 with code 18.
  Handle FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t flags,
                          uintptr_t context) override;
  bool FtpRenameFile(Handle connect, TextView existing, TextView renamed) override;
  bool FtpDeleteFile(Handle connect, TextView remote) override;
  bool FtpCreateDirectory(Handle connect, TextView directory) override;
  bool InternetCloseHandle(Handle handle) override;

  void SetTransferObserver(TransferObserver* observer) { observer_ = observer; }

 private:
  struct Object {
    enum class Kind { Session, Connection, Find } kind;
    Handle parent = 0;  // the session of a connection, the connection of a find
    Handle find = 0;    // a connection's open find
    std::unique_ptr<ControlConnection> connection;
  };
  // The object behind `handle` if it is of `kind`, or null with the last error set (6 unknown, 12018 another kind).
  Object* Lookup(Handle handle, Object::Kind kind);
  // The connection behind `handle`, or null with the last error set (as Lookup, and 12111 dead).
  ControlConnection* LookupConnection(Handle handle);
  void Close(Handle handle);

  LastError& lastError_;
  CodePage& codePage_;
  Network& network_;
  FileSystem& files_;
  TransferObserver* observer_ = nullptr;
  FtpTimeouts timeouts_;
  HandleTable<std::unique_ptr<Object>> handles_;
  // Whether each server (address, port and user) offered MLST, so that each new connection to it need not ask
  // FEAT again: every transfer opens a connection of its own. A wrong guess only costs the fallback.
  std::map<std::string, bool> mlstOffered_;
};

}  // namespace kadroo::ftp
