#pragma once
// What the FTP engine needs of its host: byte streams to the server (plain or TLS), a listener for active mode, and
// the local files a transfer reads and writes. Every call returns 0 or the code WinINet would have left (12002
// when a deadline passed, 12029 when a connection could not be made, 12030/12031 when one broke, 2/5/112... for a
// local file), so that the engine records the same codes on every host.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/Platform.h"

namespace kadroo::ftp {

using Clock = std::chrono::steady_clock;
using Fingerprint = std::array<uint8_t, 32>;  // SHA-256
using Deadline = Clock::time_point;

// One end of a connection, as text: "127.0.0.1", "::1".
struct Endpoint {
  std::string address;
  uint16_t port = 0;
  bool ipv6 = false;
};

// Whether two ends are on the same machine: their addresses without the ports, an IPv4-mapped IPv6 address
// ("::ffff:10.0.0.1") as the IPv4 one. An active-mode data connection is taken only from the control's server.
inline bool SameHost(const Endpoint& a, const Endpoint& b) {
  auto host = [](const std::string& address) {
    const bool mapped = address.size() > 7 && (address.compare(0, 7, "::ffff:") == 0 ||
                                               address.compare(0, 7, "::FFFF:") == 0) &&
                        address.find('.') != std::string::npos;
    return mapped ? address.substr(7) : address;
  };
  return !a.address.empty() && host(a.address) == host(b.address);
}

class LocalFile;
struct Flow;

// A connected byte stream. Not shared between threads.
class Stream {
 public:
  virtual ~Stream() = default;
  // Waits until `deadline` for bytes, then reads what has arrived, at most `size`; `got` 0 means the peer closed.
  virtual int32_t Read(char* data, size_t size, Deadline deadline, size_t& got) = 0;
  // Writes all of `data` by `deadline`.
  virtual int32_t Write(const char* data, size_t size, Deadline deadline) = 0;
  // Ends this side's sending so that the peer reads the end (with TLS: close_notify first). Closing the stream
  // without it may end an upload in a way the server counts as broken.
  virtual int32_t Shutdown(Deadline deadline) = 0;
  virtual Endpoint Peer() const = 0;
  virtual Endpoint Local() const = 0;
  // A fast path the host may offer: moves everything up to the end of the stream into `file` by its own means
  // (Linux: splice), with `idle` as the longest wait for bytes; false (nothing moved) when it does not.
  virtual bool ReceiveInto(LocalFile& /*file*/, std::chrono::milliseconds /*idle*/, Flow& /*flow*/) { return false; }
};

// A listening socket for one active-mode data connection.
class Listener {
 public:
  virtual ~Listener() = default;
  virtual Endpoint Bound() const = 0;
  // Waits until `deadline` for the server to connect from the host of `control`'s peer (anyone else is turned away
  // and the wait goes on). Returns 0 with `out` empty when `control` has something to read first (the server
  // refused the transfer). `control` is a stream this host's Network made.
  virtual int32_t Accept(Stream& control, Deadline deadline, std::unique_ptr<Stream>& out) = 0;
};

// What TLS one FTP session must have (explicit FTPS: AUTH TLS, PBSZ 0, PROT P before the user name is sent).
struct TlsDemand {
  std::string host;  // as the page gave it, without brackets: the certificate must name it
  // The administrator's pin of the server certificate's SHA-256 digest: where given, it alone decides, and
  // neither the trust store nor the name is consulted.
  std::optional<Fingerprint> pin;
};

// The TLS of one FTP session: its control connection and every data connection it opens.
class TlsSession {
 public:
  virtual ~TlsSession() = default;
  // Replaces `stream` (the control connection, just after 234) by a TLS stream over it, once the handshake is
  // done and the certificate checked (a host may resume the session of its last control connection to the same
  // server, host, port and pin alike, whose certificate it checked then): 12045 an unknown authority, 12038
  // another name, 12037 expired or not yet valid, 12169 another pinned fingerprint or another fault of the certificate, 12044 a client certificate
  // wanted, 12157 any other failure of the handshake.
  virtual int32_t SecureControl(std::unique_ptr<Stream>& stream, Deadline deadline) = 0;
  // The same for a data connection (after the server's 150, in either mode; we are the TLS client in both): it
  // resumes the session of the control connection, taking the newest ticket the server sent, as servers that
  // require reuse check. Its Shutdown sends close_notify before the socket closes.
  virtual int32_t SecureData(std::unique_ptr<Stream>& stream, Deadline deadline) = 0;
};

// Opens connections.
class Network {
 public:
  virtual ~Network() = default;
  // What a connection carries, for the host to tune its socket (Linux: replies acknowledged at once on the control
  // connection; every piece of an upload sent as it is written).
  enum class Role { Control, Data };
  // Resolves `host` and connects to the first of its addresses that answers, all by `deadline`; 12007 when no
  // address is known.
  virtual int32_t Connect(const std::string& host, uint16_t port, Deadline deadline, Role role,
                          std::unique_ptr<Stream>& out) = 0;
  // Listens on `local`'s address (its port is ignored: the system picks one).
  virtual int32_t Listen(const Endpoint& local, std::unique_ptr<Listener>& out) = 0;
  // The TLS for a session to `demand.host`; 12157 where the host has none.
  virtual int32_t StartTls(const TlsDemand& demand, std::unique_ptr<TlsSession>& out) = 0;
};

// An open local file.
class LocalFile {
 public:
  virtual ~LocalFile() = default;
  // Reads at most `size` bytes; `got` 0 at the end.
  virtual int32_t Read(char* data, size_t size, size_t& got) = 0;
  virtual int32_t Write(const char* data, size_t size) = 0;
  // Closes the file, reporting what the system says of the writes that were still pending.
  virtual int32_t Close() = 0;
};

// What a host offers of its local files to transfers and to the download placement (DownloadPlacement.h).
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // A local path as the page gave it, in this system's form; nullopt with `error` set when it cannot be one.
  virtual std::optional<std::string> LocalPath(TextView path, int32_t& error) = 0;
  virtual int32_t OpenRead(const std::string& path, std::unique_ptr<LocalFile>& out, uint64_t& size) = 0;
  virtual int32_t OpenWrite(const std::string& path, std::unique_ptr<LocalFile>& out) = 0;

  // What is at a download's target.
  struct Target {
    bool exists = false;
    bool plainFile = false;     // not a directory, FIFO, device
    bool readOnly = false;
    bool writeThrough = false;  // a link that must be written through by copying rather than replaced
    std::string destination;    // the file a rename must replace (a link's target where the host resolves links)
  };
  virtual Target Inspect(const std::string& path) = 0;
  // The directory part of `path`, as CreatePartial takes it.
  virtual std::string DirectoryOf(const std::string& path) = 0;
  virtual std::string TemporaryDirectory() = 0;
  // Creates a new empty file of a name of the host's choice in `directory`; 5 when the directory is closed to us.
  virtual int32_t CreatePartial(const std::string& directory, std::string& path) = 0;
  virtual uint64_t SizeOf(const std::string& path) = 0;
  // Renames `partial` over `target` in one step, keeping the replaced file's permissions or marks.
  virtual int32_t MoveOnto(const std::string& partial, const std::string& target) = 0;
  // Writes `partial`'s content into `target` itself.
  virtual int32_t CopyInto(const std::string& partial, const std::string& target) = 0;
  virtual void Remove(const std::string& path) = 0;
};

}  // namespace kadroo::ftp
