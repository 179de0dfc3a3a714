#pragma once
// The FTP operations that the control relies on, with WinINet's arguments and results. Every operation records
// the last platform error code (LastError) right after it: 0 on success, the codes of GetErr's table on failure.
#include <cstdint>

#include "control/Platform.h"

namespace kadroo {

constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr uint32_t INTERNET_SERVICE_FTP = 1;
constexpr uint32_t INTERNET_FLAG_PASSIVE = 0x08000000;
constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
// The page asked for FTP over TLS ("tls=1" in the parameter string). WinINet's own flag for TLS, which its FTP
// does not offer: our FTP engine serves such a session.
constexpr uint32_t INTERNET_FLAG_SECURE = 0x00800000;
constexpr uint32_t FTP_TRANSFER_TYPE_UNKNOWN = 0;
constexpr uint32_t FTP_TRANSFER_TYPE_BINARY = 2;
constexpr uint16_t INTERNET_DEFAULT_FTP_PORT = 21;

// Platform error codes that the FTP layer leaves, beyond those of every platform call.
enum : int32_t {
  ERROR_INTERNET_TIMEOUT = 12002,
  ERROR_INTERNET_EXTENDED_ERROR = 12003,
  ERROR_INTERNET_INTERNAL_ERROR = 12004,
  ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
  ERROR_INTERNET_LOGIN_FAILURE = 12015,
  ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018,
  ERROR_INTERNET_CANNOT_CONNECT = 12029,
  ERROR_INTERNET_CONNECTION_ABORTED = 12030,
  ERROR_INTERNET_CONNECTION_RESET = 12031,
  ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037,    // the server's certificate expired or is not valid yet
  ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038,      // it does not name the host connected to
  ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED = 12044,  // the server wants a certificate of ours
  ERROR_INTERNET_INVALID_CA = 12045,               // no authority we trust signed it
  ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157,   // the server refused TLS (AUTH TLS, PBSZ, PROT P) or its handshake
  ERROR_INTERNET_SEC_INVALID_CERT = 12169,         // another fingerprint than the one pinned, or another fault
  ERROR_INTERNET_SEC_CERT_REVOKED = 12170,
  ERROR_FTP_TRANSFER_IN_PROGRESS = 12110,
  ERROR_FTP_DROPPED = 12111,
};

class FtpClient {
 public:
  virtual ~FtpClient() = default;

  // Opens a session; 0 on failure.
  virtual Handle InternetOpen(TextView agent, uint32_t accessType, TextView proxy, TextView proxyBypass,
                              uint32_t flags) = 0;
  // Connects and logs in; the handle is non-zero only once logged in. Port 0 is the FTP default, 21.
  virtual Handle InternetConnect(Handle session, TextView server, uint16_t port, TextView user, TextView password,
                                 uint32_t service, uint32_t flags, uintptr_t context) = 0;
  // Downloads `remote` into `local`, overwriting it. A failed transfer leaves an existing local file as it was.
  // An empty remote file never replaces an existing local file: the call then fails with ERROR_HANDLE_EOF and
  // leaves the file as it was, so that the caller can treat it as the empty download it is. A read-only local
  // file, or one that is not a plain file (a directory, a FIFO, a device), is refused with ERROR_ACCESS_DENIED;
  // a link is written through.
  virtual bool FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists, uint32_t attributes,
                          uint32_t flags, uintptr_t context) = 0;
  virtual bool FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t flags, uintptr_t context) = 0;
  // Gives the record of `remote` itself (no wildcard added) and a search handle, or 0 when it does not exist.
  virtual Handle FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t flags,
                                  uintptr_t context) = 0;
  virtual bool FtpRenameFile(Handle connect, TextView existing, TextView renamed) = 0;
  virtual bool FtpDeleteFile(Handle connect, TextView remote) = 0;
  virtual bool FtpCreateDirectory(Handle connect, TextView directory) = 0;
  // Closes a search, connection or session handle; closing a session closes what was opened under it.
  virtual bool InternetCloseHandle(Handle handle) = 0;
};

}  // namespace kadroo
