#include "host/windows/platform/WindowsFtpClient.h"

namespace kadroo::windows {

WindowsFtpClient::WindowsFtpClient(LastError& lastError, CodePage& codePage, FtpTlsSettings tls)
    : lastError_(lastError),
      codePage_(codePage),
      tls_(tls),
      wininet_(lastError, codePage),
      files_(codePage),
      engine_(lastError, codePage, network_, files_, ftp::FtpTimeouts::FromEnvironment(), std::move(tls)) {}

WindowsFtpClient::~WindowsFtpClient() = default;

WindowsFtpClient::Entry* WindowsFtpClient::Lookup(Handle handle, bool session) {
  Entry* entry = handles_.Find(handle);
  if (!entry || (entry->client == nullptr) != session) {
    lastError_.code = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return entry;
}

bool WindowsFtpClient::NeedsTls(TextView server, uint16_t port, uint32_t flags) {
  if (flags & INTERNET_FLAG_SECURE) return true;
  std::string host;
  // A name the code page cannot hold goes to WinINet, which refuses it as before; unless every server needs TLS.
  if (ToAnsiArgument(codePage_, server, LineBreaks::kRefused, host) != 0) return tls_.everyServer;
  return tls_.For(host, port).has_value();
}

Handle WindowsFtpClient::InternetOpen(TextView agent, uint32_t accessType, TextView proxy, TextView proxyBypass,
                                      uint32_t flags) {
  const Handle session = wininet_.InternetOpen(agent, accessType, proxy, proxyBypass, flags);
  if (session == 0) return 0;
  return handles_.Add(Entry{nullptr, session, 0, 0});
}

Handle WindowsFtpClient::InternetConnect(Handle session, TextView server, uint16_t port, TextView user,
                                         TextView password, uint32_t service, uint32_t flags, uintptr_t context) {
  Entry* parent = Lookup(session, true);
  if (!parent) return 0;
  FtpClient* client = &wininet_;
  Handle within = parent->inner;
  if (NeedsTls(server, port, flags)) {
    if (parent->engineSession == 0) {
      parent->engineSession = engine_.InternetOpen(u"vb activex", INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0);
      if (parent->engineSession == 0) return 0;
    }
    client = &engine_;
    within = parent->engineSession;
  }
  const Handle connection = client->InternetConnect(within, server, port, user, password, service, flags, context);
  if (connection == 0) return 0;
  return handles_.Add(Entry{client, connection, 0, session});
}

bool WindowsFtpClient::FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists,
                                  uint32_t attributes, uint32_t flags, uintptr_t context) {
  Entry* entry = Lookup(connect, false);
  return entry && entry->client->FtpGetFile(entry->inner, remote, local, failIfExists, attributes, flags, context);
}

bool WindowsFtpClient::FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t flags,
                                  uintptr_t context) {
  Entry* entry = Lookup(connect, false);
  return entry && entry->client->FtpPutFile(entry->inner, local, remote, flags, context);
}

Handle WindowsFtpClient::FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t flags,
                                          uintptr_t context) {
  Entry* entry = Lookup(connect, false);
  if (!entry) return 0;
  FtpClient* client = entry->client;
  const Handle find = client->FtpFindFirstFile(entry->inner, remote, record, flags, context);
  if (find == 0) return 0;
  return handles_.Add(Entry{client, find, 0, connect});
}

bool WindowsFtpClient::FtpRenameFile(Handle connect, TextView existing, TextView renamed) {
  Entry* entry = Lookup(connect, false);
  return entry && entry->client->FtpRenameFile(entry->inner, existing, renamed);
}

bool WindowsFtpClient::FtpDeleteFile(Handle connect, TextView remote) {
  Entry* entry = Lookup(connect, false);
  return entry && entry->client->FtpDeleteFile(entry->inner, remote);
}

bool WindowsFtpClient::FtpCreateDirectory(Handle connect, TextView directory) {
  Entry* entry = Lookup(connect, false);
  return entry && entry->client->FtpCreateDirectory(entry->inner, directory);
}

bool WindowsFtpClient::FtpCommand(Handle connect, TextView command, Text& response) {
  Entry* entry = Lookup(connect, false);
  return entry && entry->client->FtpCommand(entry->inner, command, response);
}

// Each client closes what was opened under the handle itself; here only the numbers go.
void WindowsFtpClient::Forget(Handle handle) {
  for (Handle child : handles_.Select([handle](const Entry& entry) { return entry.parent == handle; })) {
    Forget(child);
  }
  handles_.Remove(handle);
}

bool WindowsFtpClient::InternetCloseHandle(Handle handle) {
  Entry* entry = handles_.Find(handle);
  if (!entry) {
    lastError_.code = ERROR_INVALID_HANDLE;
    return false;
  }
  bool closed = true;
  if (entry->client) {
    closed = entry->client->InternetCloseHandle(entry->inner);
  } else {
    if (entry->engineSession) engine_.InternetCloseHandle(entry->engineSession);
    closed = wininet_.InternetCloseHandle(entry->inner);
  }
  Forget(handle);
  return closed;
}

void WindowsFtpClient::SetTransferObserver(TransferObserver* observer) {
  wininet_.SetTransferObserver(observer);
  engine_.SetTransferObserver(observer);
}

}  // namespace kadroo::windows
