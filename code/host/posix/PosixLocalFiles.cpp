#include "host/posix/PosixLocalFiles.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "control/RuntimeError.h"
#include "host/posix/LocalPath.h"

namespace kadroo::posix {
namespace {

bool IsUtf8Name(const std::string& charset) {
  const std::string lower = AsciiLower(charset);
  return lower.empty() || lower == "utf-8" || lower == "utf8" || lower == "ansi_x3.4-1968" || lower == "ascii";
}

enum class Undecodable { kFail, kReplace };

// Converts with iconv. With kFail, nullopt when any input cannot be converted; with kReplace (towards UTF-16LE
// only) each byte that cannot be decoded becomes U+FFFD and the rest is still converted.
std::optional<std::string> Iconv(const char* to, const char* from, const char* input, size_t inputSize,
                                 Undecodable undecodable = Undecodable::kFail) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  char buffer[4096];
  char* in = const_cast<char*>(input);
  size_t inLeft = inputSize;
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (undecodable == Undecodable::kFail) {
      ok = false;
      break;
    }
    out.append("\xFD\xFF", 2);  // U+FFFD in UTF-16LE
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

LocaleCodePage::LocaleCodePage() : LocaleCodePage(nl_langinfo(CODESET)) {}

LocaleCodePage::LocaleCodePage(std::string charset) : charset_(std::move(charset)), utf8_(IsUtf8Name(charset_)) {
  if (utf8_) charset_ = "UTF-8";
}

std::optional<std::string> LocaleCodePage::ToAnsi(TextView text) {
  if (utf8_) return ToUtf8(text);
  return Iconv(charset_.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

Text LocaleCodePage::FromAnsi(std::string_view bytes) {
  if (utf8_) return FromUtf8Lossy(bytes);
  auto utf16 = Iconv("UTF-16LE", charset_.c_str(), bytes.data(), bytes.size(), Undecodable::kReplace);
  if (!utf16) return FromUtf8Lossy(bytes);  // the character set itself is unknown to iconv
  Text out(utf16->size() / 2, u'\0');
  std::memcpy(out.data(), utf16->data(), out.size() * 2);
  return out;
}

FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  constexpr int64_t kEpochDifference = 11644473600;  // seconds from 1601-01-01 to 1970-01-01
  const int64_t ticks = (seconds + kEpochDifference) * 10'000'000 + nanoseconds / 100;
  return FileTime::FromTicks(static_cast<uint64_t>(ticks));
}

bool PosixLocalFiles::DeleteFile(TextView path) {
  int32_t error = 0;
  auto local = ToLocalPath(codePage_, path, &error);
  if (!local) return Refuse(lastError_, error, false);
  struct stat st;
  // As DeleteFile says of a directory.
  if (::lstat(local->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return Refuse(lastError_, ERROR_ACCESS_DENIED, false);
  }
  return Finish(lastError_, ::unlink(local->c_str()) == 0 ? 0 : ErrorFromErrno(errno), true);
}

Handle PosixLocalFiles::FindFirstFile(TextView path, FindData& record) {
  int32_t error = 0;
  auto local = ToLocalPath(codePage_, path, &error);
  if (!local) return Refuse(lastError_, error, kInvalidHandle);
  struct stat st;
  if (local->empty()) return Refuse(lastError_, ERROR_FILE_NOT_FOUND, kInvalidHandle);
  if (::stat(local->c_str(), &st) != 0) return Refuse(lastError_, ErrorFromErrno(errno), kInvalidHandle);
  record = FindData{};
  record.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (!S_ISDIR(st.st_mode) && ::access(local->c_str(), W_OK) != 0) record.dwFileAttributes = 0x1;  // read-only
  record.ftCreationTime = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  record.ftLastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  record.ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  record.SetFileSize(static_cast<uint64_t>(st.st_size));
  const size_t slash = local->find_last_of('/');
  const std::string name = slash == std::string::npos ? *local : local->substr(slash + 1);
  std::strncpy(record.cFileName, name.c_str(), sizeof record.cFileName - 1);
  return Finish(lastError_, 0, searches_.Add(true));
}

void PosixLocalFiles::FindClose(Handle search) { searches_.Remove(search); }

Text PosixLocalFiles::GetTempPath() {
  return Finish(lastError_, 0, codePage_.FromAnsi(TemporaryDirectory()));
}

std::optional<Text> PosixLocalFiles::GetTempFileName(TextView dir, TextView prefix) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::mt19937 random(static_cast<uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ (static_cast<uint64_t>(::getpid()) << 16)));
  const TextView head = prefix.substr(0, 3);
  uint32_t unique = random() % 0xFFFF + 1;
  for (uint32_t attempt = 0; attempt < 0xFFFF; ++attempt) {
    Text hex;
    for (uint32_t v = unique; v != 0; v >>= 4) hex.insert(hex.begin(), kHex[v & 0xF]);
    Text path = Text(dir) + Text(head) + hex + u".tmp";
    int32_t error = 0;
    auto local = ToLocalPath(codePage_, path, &error);
    if (!local) return Refuse(lastError_, error, std::optional<Text>());
    int fd = ::open(local->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return Finish(lastError_, 0, std::optional<Text>(path));
    }
    if (errno != EEXIST) return Refuse(lastError_, ErrorFromErrno(errno), std::optional<Text>());
    unique = unique % 0xFFFF + 1;
  }
  return Refuse(lastError_, ERROR_FILE_EXISTS, std::optional<Text>());
}

// The script file lives in a directory of the user's own: in a shared directory anyone could plant the name as
// a link to one of the user's files, or as a FIFO that blocks every transfer.
Text PosixLocalFiles::QuitScriptPath() {
  std::string dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* home = std::getenv("HOME");
  if (runtime && runtime[0] == '/') {
    dir = std::string(runtime) + "/kadrooa";
  } else if (home && home[0] == '/') {
    dir = std::string(home) + "/.cache/kadrooa";
  } else {
    dir = "/tmp/kadrooa-" + std::to_string(::geteuid());
  }
  return codePage_.FromAnsi(dir + "/quit.txt");
}

namespace {

// Makes `dir` (and a missing parent) with mode 0700. Raises unless it is then a directory of the user's that
// nobody else can write, whether it was made now or found.
void EnsurePrivateDirectory(const std::string& dir) {
  const size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0) ::mkdir(dir.substr(0, slash).c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) Raise(ErrorNumber::kPathNotFound);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    Raise(ErrorNumber::kPermissionDenied);
  }
}

// Opens `path` for writing as a regular file without following a link and without blocking on a FIFO; whatever
// else stands under the name is removed first. -1 with errno on failure.
int OpenRegularFile(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (fd >= 0) ::close(fd);
    // A link (ELOOP), a FIFO without a reader (ENXIO), a device or a socket: not ours to write into.
    if (fd < 0 && errno != ELOOP && errno != ENXIO && errno != EISDIR && errno != EOPNOTSUPP) return -1;
    if (::unlink(path.c_str()) != 0) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

void PosixLocalFiles::WriteTextFile(TextView path, TextView line) {
  auto local = ToLocalPath(codePage_, path);
  if (!local) Raise(ErrorNumber::kPathFileAccessError);
  auto content = codePage_.ToAnsi(line);
  if (!content) Raise(ErrorNumber::kInvalidProcedureCall);
  *content += '\n';
  const size_t slash = local->rfind('/');
  if (slash != std::string::npos && slash > 0) EnsurePrivateDirectory(local->substr(0, slash));
  const int fd = OpenRegularFile(*local);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS) Raise(ErrorNumber::kPermissionDenied);
    if (errno == ENOENT || errno == ENOTDIR) Raise(ErrorNumber::kPathNotFound);
    Raise(ErrorNumber::kPathFileAccessError);
  }
  // Written over the old content and cut only where that was longer: emptying the file first makes ext4 start
  // writing it back on close, and the next emptying waits for that write: 0.3 to 2 ms on every transfer.
  const ssize_t written = ::pwrite(fd, content->data(), content->size(), 0);
  struct stat st;
  const bool cut = ::fstat(fd, &st) == 0 && (static_cast<uint64_t>(st.st_size) <= content->size() ||
                                              ::ftruncate(fd, static_cast<off_t>(content->size())) == 0);
  const bool closed = ::close(fd) == 0;
  if (written != static_cast<ssize_t>(content->size()) || !cut || !closed) {
    Raise(ErrorNumber::kPathFileAccessError);
  }
}

void TerminalPrompt::MessageBox(TextView prompt, TextView title) {
  std::string text = "[" + ToUtf8Lossy(title) + "] " + ToUtf8Lossy(prompt) + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return;
  static constexpr char kHint[] = "(Enter) ";
  (void)!::write(tty, kHint, sizeof kHint - 1);
  char c;
  while (::read(tty, &c, 1) == 1 && c != '\n') {
  }
  ::close(tty);
}

}  // namespace kadroo::posix
