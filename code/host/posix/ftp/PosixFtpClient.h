#pragma once
// The FTP client of the Linux build, over BSD sockets, offering WinINet's FTP operations with WinINet's results
// and error codes.
//
// Protocol: RFC 959 login and transfers in binary type, RFC 2428 EPSV/EPRT with PASV/PORT where the server refuses
// them (remembered per connection), RFC 3659 SIZE/MDTM/MLST. In passive mode the data connection goes to the
// control connection's peer address whatever host a 227 reply names, as curl does by default: a server behind NAT
// often names a private address, and following a third host would let a server aim our connection elsewhere.
// Active mode listens on the local address of the control connection.
//
// Downloads go to a temporary file beside the target that replaces the target only after the server confirmed the
// transfer (and, where the 150 reply announced a size, after that many bytes arrived); a failure removes it and
// leaves an existing target untouched. Transfers stream through the kernel (splice, sendfile) or a fixed buffer.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

#include "control/Platform.h"
#include "ftp/FtpClient.h"

namespace kadroo::posix {

struct FtpTimeouts {
  std::chrono::milliseconds connect{60'000};  // TCP connect, control and data
  std::chrono::milliseconds reply{60'000};    // each reply on the control connection
  std::chrono::milliseconds data{60'000};     // a data connection without progress

  // WinINet's 60 s, or KADROOA_FTP_TIMEOUT_MS milliseconds for all three where that variable is set.
  static FtpTimeouts FromEnvironment();
};

// Told how a download or an upload advances, after each piece the data connection moves, and once more when
// the stream ends; `total` is -1 when the size is not known. The observer decides how often to pass it on.
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  virtual void OnTransfer(uint64_t done, int64_t total, bool finished) = 0;
};

class PosixFtpClient final : public FtpClient {
 public:
  // `lastError` and `codePage` must outlive the client.
  PosixFtpClient(LastError& lastError, CodePage& codePage, FtpTimeouts timeouts = {});
  ~PosixFtpClient() override;
  PosixFtpClient(const PosixFtpClient&) = delete;
  PosixFtpClient& operator=(const PosixFtpClient&) = delete;

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

  struct Connection;
  void SetTransferObserver(TransferObserver* observer) { observer_ = observer; }

 private:
  struct Object;
  Handle Add(std::unique_ptr<Object> object);
  // The connection behind `handle`, or null with the last error set (6 unknown, 12018 another kind, 12111 dead).
  Connection* Lookup(Handle handle);
  void Close(Handle handle);
  template <typename T>
  T Finish(int32_t error, T result);

  LastError& lastError_;
  CodePage& codePage_;
  FtpTimeouts timeouts_;
  std::map<Handle, std::unique_ptr<Object>> handles_;
  Handle next_ = 1;
  // Whether each server (address, port and user) offered MLST, so that each new connection to it need not ask
  // FEAT again: every transfer opens a connection of its own. A wrong guess only costs the fallback.
  std::map<std::string, bool> mlstOffered_;
  TransferObserver* observer_ = nullptr;
};

}  // namespace kadroo::posix
