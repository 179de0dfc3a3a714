#pragma once
// What the FTP client's tests share: text conversion and a client with timeouts short enough for a test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/posix/PosixLocalFiles.h"
#include "host/posix/ftp/PosixFtpClient.h"
#include "support/TempDir.h"

namespace kadroo::testing {

inline Text T(const std::string& utf8) { return FromUtf8Lossy(utf8); }

// A client over the UTF-8 code page, with all of its parts.
struct ClientUnderTest {
  explicit ClientUnderTest(std::chrono::milliseconds timeout = std::chrono::seconds(10),
                           const std::string& charset = "UTF-8")
      : codePage(charset), client(error, codePage, posix::FtpTimeouts{timeout, timeout, timeout}) {}
  LastError error;
  posix::LocaleCodePage codePage;
  posix::PosixFtpClient client;

  Handle Open() { return client.InternetOpen(u"vb activex", INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0); }
  Handle Connect(Handle session, const std::string& host, uint16_t port, const std::string& user,
                 const std::string& password, uint32_t flags) {
    return client.InternetConnect(session, T(host), port, T(user), T(password), INTERNET_SERVICE_FTP, flags, 0);
  }
  bool Get(Handle connection, const std::string& remote, const std::string& local, bool failIfExists = false) {
    return client.FtpGetFile(connection, T(remote), T(local), failIfExists, 0,
                             INTERNET_FLAG_RELOAD | FTP_TRANSFER_TYPE_UNKNOWN, 0);
  }
  bool Put(Handle connection, const std::string& local, const std::string& remote) {
    return client.FtpPutFile(connection, T(local), T(remote), FTP_TRANSFER_TYPE_BINARY, 0);
  }
  Handle Find(Handle connection, const std::string& remote, FindData& record) {
    return client.FtpFindFirstFile(connection, T(remote), record, 0, 0);
  }
};

// Bytes that differ from position to position, so that a shifted or repeated block shows.
inline std::string Pattern(size_t size, uint32_t seed = 1) {
  std::string s(size, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace kadroo::testing
