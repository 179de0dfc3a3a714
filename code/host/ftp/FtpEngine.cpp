#include "host/ftp/FtpEngine.h"

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "host/ftp/DownloadPlacement.h"
#include "host/ftp/Transfer.h"

namespace kadroo::ftp {
namespace {

FindData RecordOf(const Entry& entry) {
  FindData record;
  record.dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (entry.size) record.SetFileSize(*entry.size);
  if (entry.modified) record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = *entry.modified;
  std::strncpy(record.cFileName, entry.name.c_str(), sizeof record.cFileName - 1);
  return record;
}

}  // namespace

FtpEngine::FtpEngine(LastError& lastError, CodePage& codePage, Network& network, FileSystem& files,
                     FtpTimeouts timeouts)
    : lastError_(lastError), codePage_(codePage), network_(network), files_(files), timeouts_(timeouts) {}

FtpEngine::~FtpEngine() {
  while (!handles_.entries().empty()) Close(handles_.entries().begin()->first);
}

FtpEngine::Object* FtpEngine::Lookup(Handle handle, Object::Kind kind) {
  std::unique_ptr<Object>* object = handles_.Find(handle);
  if (!object) return Refuse(lastError_, ERROR_INVALID_HANDLE, nullptr);
  if ((*object)->kind != kind) return Refuse(lastError_, ERROR_INTERNET_INCORRECT_HANDLE_TYPE, nullptr);
  return object->get();
}

ControlConnection* FtpEngine::LookupConnection(Handle handle) {
  Object* object = Lookup(handle, Object::Kind::Connection);
  if (!object) return nullptr;
  if (object->connection->dead) return Refuse(lastError_, ERROR_FTP_DROPPED, nullptr);
  return object->connection.get();
}

void FtpEngine::Close(Handle handle) {
  std::unique_ptr<Object>* found = handles_.Find(handle);
  if (!found) return;
  std::unique_ptr<Object> object = std::move(*found);
  handles_.Remove(handle);
  switch (object->kind) {
    case Object::Kind::Session: {
      std::vector<Handle> children;
      for (auto& [h, o] : handles_.entries()) {
        if (o->kind == Object::Kind::Connection && o->parent == handle) children.push_back(h);
      }
      for (Handle h : children) Close(h);
      break;
    }
    case Object::Kind::Connection:
      if (object->find) handles_.Remove(object->find);
      object->connection->Quit();
      break;
    case Object::Kind::Find: {
      if (std::unique_ptr<Object>* parent = handles_.Find(object->parent)) (*parent)->find = 0;
      break;
    }
  }
}

Handle FtpEngine::InternetOpen(TextView, uint32_t, TextView, TextView, uint32_t) {
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Session;
  return Finish(lastError_, 0, handles_.Add(std::move(object)));
}

Handle FtpEngine::InternetConnect(Handle session, TextView server, uint16_t port, TextView user,
                                       TextView password, uint32_t service, uint32_t flags, uintptr_t) {
  if (!Lookup(session, Object::Kind::Session)) return 0;
  if (service != INTERNET_SERVICE_FTP || user.empty()) return Finish(lastError_, ERROR_INVALID_PARAMETER, Handle{0});
  std::string host, wireUser, wirePassword;
  for (auto [text, out] : {std::pair{server, &host}, {user, &wireUser}, {password, &wirePassword}}) {
    if (!ToAnsiArgument(lastError_, codePage_, text, LineBreaks::kRefused, *out)) return 0;
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return Finish(lastError_, ERROR_INTERNET_NAME_NOT_RESOLVED, Handle{0});

  auto c = std::make_unique<ControlConnection>(network_, flags, timeouts_);
  if (int32_t err = c->Open(host, port)) return Finish(lastError_, err, Handle{0});
  if (int32_t err = c->Login(wireUser, wirePassword)) return Finish(lastError_, err, Handle{0});
  if (auto known = mlstOffered_.find(c->server); known != mlstOffered_.end()) c->mlst = known->second;
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Connection;
  object->parent = session;
  object->connection = std::move(c);
  return Finish(lastError_, 0, handles_.Add(std::move(object)));
}

bool FtpEngine::FtpGetFile(Handle connect, TextView remote, TextView local, bool failIfExists, uint32_t,
                                uint32_t, uintptr_t) {
  // Every transfer type is binary: the control never asks for ASCII and a document must arrive unchanged.
  ControlConnection* c = LookupConnection(connect);
  if (!c) return false;
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, path)) return false;
  int32_t err = 0;
  auto target = files_.LocalPath(local, err);
  if (!target) return Finish(lastError_, err, false);
  DownloadPlacement placement(files_);
  if ((err = placement.Prepare(*target, failIfExists))) return Finish(lastError_, err, false);
  std::unique_ptr<LocalFile> file;
  if ((err = files_.OpenWrite(placement.partial(), file))) return Finish(lastError_, err, false);

  ControlConnection::DataChannel channel;
  Reply started;
  if ((err = c->StartTransfer("RETR " + path, channel, started))) return Finish(lastError_, err, false);
  const auto announced = ParseTransferSize(started.text);
  Flow flow{.observer = observer_, .total = announced ? static_cast<int64_t>(*announced) : -1};
  ReceiveToFile(*channel.stream, *file, timeouts_.data, flow);
  flow.Ended();
  if (flow.failed != Flow::Failed::None) return Finish(lastError_, c->AbandonTransfer(channel, flow), false);
  channel.stream.reset();
  if ((err = c->FinishTransfer())) return Finish(lastError_, err, false);
  // A server that announced the size and sent another amount lost the connection, or is sending something else.
  if (announced && flow.bytes != *announced) {
    return Finish(lastError_, ERROR_INTERNET_CONNECTION_ABORTED, false);
  }
  if ((err = file->Close())) return Finish(lastError_, err, false);
  err = placement.Place(flow.bytes);
  return Finish(lastError_, err, true);
}

bool FtpEngine::FtpPutFile(Handle connect, TextView local, TextView remote, uint32_t, uintptr_t) {
  ControlConnection* c = LookupConnection(connect);
  if (!c) return false;
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, path)) return false;
  int32_t err = 0;
  auto source = files_.LocalPath(local, err);
  if (!source) return Finish(lastError_, err, false);
  std::unique_ptr<LocalFile> file;
  uint64_t size = 0;
  if ((err = files_.OpenRead(*source, file, size))) return Finish(lastError_, err, false);

  ControlConnection::DataChannel channel;
  Reply started;
  if ((err = c->StartTransfer("STOR " + path, channel, started))) return Finish(lastError_, err, false);
  Flow flow{.observer = observer_, .total = static_cast<int64_t>(size)};
  SendFile(*file, *channel.stream, timeouts_.data, flow);
  flow.Ended();
  if (flow.failed != Flow::Failed::None) return Finish(lastError_, c->AbandonTransfer(channel, flow), false);
  channel.stream.reset();
  return Finish(lastError_, c->FinishTransfer(), true);
}

Handle FtpEngine::FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t, uintptr_t) {
  ControlConnection* c = LookupConnection(connect);
  if (!c) return 0;
  Object& object = **handles_.Find(connect);
  if (object.find) return Finish(lastError_, ERROR_FTP_TRANSFER_IN_PROGRESS, Handle{0});
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, path)) return 0;
  if (path.empty()) path = ".";
  std::optional<Entry> entry;
  const int32_t err = c->FindEntry(path, entry);
  if (c->mlst) mlstOffered_[c->server] = *c->mlst;
  // A refusal within the search means that the path is not there.
  if (err == ERROR_INTERNET_EXTENDED_ERROR || (err == 0 && !entry)) {
    return Finish(lastError_, ERROR_NO_MORE_FILES, Handle{0});
  }
  if (err) return Finish(lastError_, err, Handle{0});
  record = RecordOf(*entry);
  auto find = std::make_unique<Object>();
  find->kind = Object::Kind::Find;
  find->parent = connect;
  object.find = handles_.Add(std::move(find));
  return Finish(lastError_, 0, object.find);
}

bool FtpEngine::FtpRenameFile(Handle connect, TextView existing, TextView renamed) {
  ControlConnection* c = LookupConnection(connect);
  if (!c) return false;
  std::string from, to;
  if (!ToAnsiArgument(lastError_, codePage_, existing, LineBreaks::kRefused, from)) return false;
  if (!ToAnsiArgument(lastError_, codePage_, renamed, LineBreaks::kRefused, to)) return false;
  if (int32_t err = c->Expect("RNFR " + from, 350)) return Finish(lastError_, err, false);
  return Finish(lastError_, c->Expect("RNTO " + to, 250), true);
}

bool FtpEngine::FtpDeleteFile(Handle connect, TextView remote) {
  ControlConnection* c = LookupConnection(connect);
  if (!c) return false;
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, remote, LineBreaks::kRefused, path)) return false;
  return Finish(lastError_, c->Expect("DELE " + path, 250), true);
}

bool FtpEngine::FtpCreateDirectory(Handle connect, TextView directory) {
  ControlConnection* c = LookupConnection(connect);
  if (!c) return false;
  std::string path;
  if (!ToAnsiArgument(lastError_, codePage_, directory, LineBreaks::kRefused, path)) return false;
  return Finish(lastError_, c->Expect("MKD " + path, 257), true);
}

bool FtpEngine::InternetCloseHandle(Handle handle) {
  if (!handles_.Find(handle)) return Refuse(lastError_, ERROR_INVALID_HANDLE, false);
  Close(handle);
  return Finish(lastError_, 0, true);
}

}  // namespace kadroo::ftp