#pragma once
// An in-memory platform for unit tests: local files, prompts, a code page, and an FTP server whose replies
// a test can script. Every call is recorded so that tests can assert what the control did.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "control/Platform.h"
#include "control/RuntimeError.h"
#include "desktop/Processes.h"
#include "desktop/Registry.h"
#include "ftp/FtpClient.h"

namespace kadroo::testing {

inline std::string Narrow(TextView text) { return ToUtf8Lossy(text); }

class Utf8CodePage final : public CodePage {
 public:
  std::optional<std::string> ToAnsi(TextView text) override { return ToUtf8(text); }
  Text FromAnsi(std::string_view bytes) override { return FromUtf8Lossy(bytes); }
};

struct FakeFile {
  std::string content;
  uint64_t size() const { return sizeOverride ? *sizeOverride : content.size(); }
  std::optional<uint64_t> sizeOverride;  // pretend to be this large
  FileTime lastWrite;
};

class FakeLocalFiles final : public LocalFiles {
 public:
  explicit FakeLocalFiles(LastError& lastError) : lastError_(lastError) {}

  bool DeleteFile(TextView path) override {
    deleted.push_back(Narrow(path));
    const bool ok = files.erase(Narrow(path)) > 0;
    lastError_.code = ok ? 0 : 2;
    return ok;
  }
  Handle FindFirstFile(TextView path, FindData& record) override {
    auto it = files.find(Narrow(path));
    if (it == files.end() || findFails) {
      lastError_.code = 2;
      return kInvalidHandle;
    }
    record = FindData{};
    record.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    record.ftLastWriteTime = it->second.lastWrite;
    record.SetFileSize(it->second.size());
    lastError_.code = 0;
    return 7;
  }
  void FindClose(Handle) override {}
  bool ReadFile(TextView path, const std::function<void(std::string_view)>& piece) override {
    auto it = files.find(Narrow(path));
    if (it == files.end()) {
      lastError_.code = 2;
      return false;
    }
    piece(it->second.content);
    lastError_.code = 0;
    return true;
  }
  Text GetTempPath() override { return u"/tmp/"; }
  std::optional<Text> GetTempFileName(TextView dir, TextView prefix) override {
    if (tempFails) return std::nullopt;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", ++tempCounter);
    Text path = Text(dir) + Text(prefix.substr(0, 3)) + FromAscii(hex) + u".tmp";
    Write(Narrow(path), "");
    return path;
  }
  Text QuitScriptPath() override { return u"/tmp/quit.txt"; }
  void WriteTextFile(TextView path, TextView line) override {
    if (quitScriptFails) throw RuntimeError(ErrorNumber::kPermissionDenied);
    Write(Narrow(path), Narrow(line) + "\n");
  }

  // Writes a file and advances its last-write time, as an editor saving it would.
  void Write(const std::string& path, std::string content) {
    auto& file = files[path];
    file.content = std::move(content);
    file.sizeOverride.reset();
    file.lastWrite = FileTime::FromTicks(++clock);
  }
  bool Exists(const std::string& path) const { return files.count(path) > 0; }

  std::map<std::string, FakeFile> files;
  std::vector<std::string> deleted;
  bool tempFails = false;
  bool quitScriptFails = false;
  bool findFails = false;
  uint32_t tempCounter = 0;
  uint64_t clock = 130000000000000000;

 private:
  LastError& lastError_;
};

class FakePrompt final : public UserPrompt {
 public:
  void MessageBox(TextView prompt, TextView title) override {
    shown.push_back(Narrow(prompt));
    titles.push_back(Narrow(title));
  }
  std::vector<std::string> shown;
  std::vector<std::string> titles;
};

class FakeProcesses final : public Processes {
 public:
  int32_t PathFileExists(TextView path) override { return existing.count(Narrow(path)) ? 1 : 0; }
  void StartProcess(TextView application, TextView commandLine, int32_t showState) override {
    applications.push_back(Narrow(application));
    started.push_back(Narrow(commandLine));
    showStates.push_back(showState);
    if (startFails) throw RuntimeError(ErrorNumber::kFileNotFound);
  }
  std::set<std::string> existing;
  std::vector<std::string> applications;
  std::vector<std::string> started;
  std::vector<int32_t> showStates;
  bool startFails = false;
};

class FakeRegistry final : public Registry {
 public:
  int32_t RegOpenKey(RegKey, const std::string&, RegKey&) override { return ERROR_REG_FILE_NOT_FOUND; }
  int32_t RegQueryValueEx(RegKey, const std::string&, uint32_t*, uint8_t*, uint32_t*) override {
    return ERROR_REG_FILE_NOT_FOUND;
  }
  int32_t RegEnumValue(RegKey, uint32_t, char*, uint32_t*, uint32_t*, uint8_t*, uint32_t*) override {
    return ERROR_NO_MORE_ITEMS;
  }
  int32_t RegCloseKey(RegKey) override { return ERROR_SUCCESS; }
};

// An FTP server in memory behind WinINet's operations. `local` is the fake local file system.
class FakeFtp final : public FtpClient {
 public:
  FakeFtp(LastError& lastError, FakeLocalFiles& local) : lastError_(lastError), local_(local) {}

  Handle InternetOpen(TextView agent, uint32_t, TextView, TextView, uint32_t) override {
    Log("open " + Narrow(agent));
    if (openFails) return Fail(openFails);
    return Ok(++nextHandle);
  }
  Handle InternetConnect(Handle session, TextView server, uint16_t port, TextView user, TextView password,
                         uint32_t, uint32_t flags, uintptr_t) override {
    Log("connect " + Narrow(server) + " " + std::to_string(port) + " " + Narrow(user) + " " + Narrow(password) +
        (flags & INTERNET_FLAG_PASSIVE ? " passive" : " active"));
    if (session <= 0) return Fail(ERROR_INVALID_HANDLE);
    if (connectFails) return Fail(connectFails);
    return Ok(++nextHandle);
  }
  bool FtpGetFile(Handle connect, TextView remote, TextView localPath, bool, uint32_t, uint32_t flags,
                  uintptr_t) override {
    Log("get " + Narrow(remote) + " -> " + Narrow(localPath));
    (void)flags;
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    ++gets;
    if (getResults.size() >= gets && getResults[gets - 1]) return Fail(getResults[gets - 1]);
    auto it = remoteFiles.find(Narrow(remote));
    if (it == remoteFiles.end()) return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    std::string content = it->second;
    if (emptyGets >= gets) content.clear();
    local_.Write(Narrow(localPath), content);
    return Ok(1);
  }
  bool FtpPutFile(Handle connect, TextView localPath, TextView remote, uint32_t, uintptr_t) override {
    Log("put " + Narrow(localPath) + " -> " + Narrow(remote));
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    if (putFails) return Fail(putFails);
    auto it = local_.files.find(Narrow(localPath));
    if (it == local_.files.end()) return Fail(ERROR_FILE_NOT_FOUND);
    SetRemote(Narrow(remote), it->second.content);
    return Ok(1);
  }
  Handle FtpFindFirstFile(Handle connect, TextView remote, FindData& record, uint32_t, uintptr_t) override {
    Log("find " + Narrow(remote));
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    const std::string path = Narrow(remote);
    record = FindData{};
    if (directories.count(path)) {
      record.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
      return Ok(++nextHandle);
    }
    auto it = remoteFiles.find(path);
    if (it == remoteFiles.end()) return Fail(ERROR_NO_MORE_FILES);
    record.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    record.SetFileSize(remoteSizeOverride ? *remoteSizeOverride : it->second.size());
    return Ok(++nextHandle);
  }
  bool FtpRenameFile(Handle connect, TextView existing, TextView renamed) override {
    Log("rename " + Narrow(existing) + " -> " + Narrow(renamed));
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    if (renameFailsFrom.count(Narrow(existing))) return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    auto it = remoteFiles.find(Narrow(existing));
    if (it == remoteFiles.end()) return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    std::string content = std::move(it->second);
    remoteFiles.erase(it);
    remoteFiles[Narrow(renamed)] = std::move(content);
    remoteTimes[Narrow(renamed)] = remoteTimes[Narrow(existing)];
    return Ok(1);
  }
  bool FtpDeleteFile(Handle connect, TextView remote) override {
    Log("delete " + Narrow(remote));
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    if (remoteFiles.erase(Narrow(remote)) == 0) return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    return Ok(1);
  }
  bool FtpCreateDirectory(Handle connect, TextView directory) override {
    Log("mkdir " + Narrow(directory));
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    if (!directories.insert(Narrow(directory)).second) return Fail(ERROR_INTERNET_EXTENDED_ERROR);
    return Ok(1);
  }
  // FEAT, TYPE, SIZE and MDTM as a server that offers `features` answers them.
  bool FtpCommand(Handle connect, TextView command, Text& response) override {
    const std::string line = Narrow(command);
    commands.push_back(line);
    if (connect <= 0) return Fail(ERROR_INVALID_HANDLE);
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space), path = space == std::string::npos ? "" : line.substr(space + 1);
    auto offered = [&](const std::string& f) {
      return std::find(features.begin(), features.end(), f) != features.end();
    };
    auto it = remoteFiles.find(path);
    std::string reply = "502 Command not implemented.";
    if (verb == "FEAT") {
      reply = "211-Features:";
      for (const auto& f : features) reply += "\r\n " + f;
      reply += "\r\n211 End";
    } else if (verb == "TYPE") {
      reply = "200 Switching to Binary mode.";
    } else if (offered(verb) && it == remoteFiles.end()) {
      reply = "550 No such file.";
    } else if (verb == "SIZE" && offered(verb)) {
      reply = "213 " + std::to_string(it->second.size());
    } else if (verb == "MDTM" && offered(verb)) {
      char time[32];
      std::snprintf(time, sizeof time, "213 %014llu", 20260000000000ull + remoteTimes[path] / timeResolution);
      reply = time;
    }
    response = FromAscii(reply);
    return reply[0] == '2' ? Ok(1) : Fail(ERROR_INTERNET_EXTENDED_ERROR);
  }
  bool InternetCloseHandle(Handle handle) override {
    Log("close " + std::to_string(handle));
    closed.push_back(handle);
    return Ok(1);
  }

  // A server file written now, as another clerk's save would write it.
  void SetRemote(const std::string& path, std::string content) {
    remoteFiles[path] = std::move(content);
    remoteTimes[path] = ++remoteClock;
  }

  std::map<std::string, std::string> remoteFiles;
  std::map<std::string, uint64_t> remoteTimes;  // seconds on the server's clock when each file was written
  uint64_t remoteClock = 1000;
  uint64_t timeResolution = 1;  // MDTM's times in units of this many seconds (60: a server that rounds to minutes)
  std::vector<std::string> features = {"MDTM", "SIZE"};
  std::vector<std::string> commands;  // what FtpCommand sent
  std::set<std::string> directories;
  std::vector<std::string> log;
  std::vector<Handle> closed;
  int32_t openFails = 0;
  int32_t connectFails = 0;
  int32_t putFails = 0;
  std::vector<int32_t> getResults;  // per FtpGetFile call: an error code to fail with, or 0
  uint32_t emptyGets = 0;          // the first N downloads arrive empty
  std::optional<uint64_t> remoteSizeOverride;
  std::set<std::string> renameFailsFrom;  // renames of these names are refused
  uint32_t gets = 0;
  Handle nextHandle = 100;

 private:
  void Log(std::string entry) { log.push_back(std::move(entry)); }
  int Fail(int32_t code) {
    lastError_.code = code;
    return 0;
  }
  int Ok(int value) {
    lastError_.code = 0;
    return value;
  }
  LastError& lastError_;
  FakeLocalFiles& local_;
};

// Everything a KadroOcx needs, faked.
struct FakePlatform {
  LastError lastError;
  Utf8CodePage codePage;
  FakeLocalFiles files{lastError};
  FakePrompt prompt;
  FakeFtp ftp{lastError, files};
  FakeRegistry registry;
  FakeProcesses processes;
  Platform platform{lastError, files, prompt, codePage, ftp, registry, processes};
};

}  // namespace kadroo::testing
