#include "host/posix/ftp/PosixFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "control/Platform.h"
#include "host/ftp/Transfer.h"
#include "host/posix/Fd.h"
#include "host/posix/LocalPath.h"

namespace kadroo::posix {
namespace {

class FdFile : public ftp::LocalFile {
 public:
  explicit FdFile(Fd fd) : fd_(std::move(fd)) {}
  int32_t Read(char* data, size_t size, size_t& got) override {
    for (;;) {
      const ssize_t n = ::read(fd_.get(), data, size);
      if (n >= 0) {
        got = static_cast<size_t>(n);
        return 0;
      }
      if (errno != EINTR) return ErrorFromErrno(errno);
    }
  }
  int32_t Write(const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_.get(), data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrorFromErrno(errno);
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
    return 0;
  }
  int32_t Close() override {
    if (fd_ && ::close(fd_.release()) != 0) return ErrorFromErrno(errno);
    return 0;
  }
  int fd() const { return fd_.get(); }

 private:
  Fd fd_;
};

}  // namespace

std::optional<std::string> PosixFiles::LocalPath(TextView path, int32_t& error) {
  return ToLocalPath(codePage_, path, &error);
}

int32_t PosixFiles::OpenRead(const std::string& path, std::unique_ptr<ftp::LocalFile>& out, uint64_t& size) {
  Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return ErrorFromErrno(errno);
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  size = static_cast<uint64_t>(st.st_size);
  out = std::make_unique<FdFile>(std::move(file));
  return 0;
}

int32_t PosixFiles::OpenWrite(const std::string& path, std::unique_ptr<ftp::LocalFile>& out) {
  Fd file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!file) return ErrorFromErrno(errno);
  out = std::make_unique<FdFile>(std::move(file));
  return 0;
}

// Root included: the attribute, not the permission, decides whether a file is read-only.
ftp::FileSystem::Target PosixFiles::Inspect(const std::string& path) {
  Target target;
  struct stat st;
  target.exists = ::stat(path.c_str(), &st) == 0;
  if (!target.exists) return target;
  target.plainFile = S_ISREG(st.st_mode);
  target.readOnly = (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    target.destination = resolved;
    std::free(resolved);
  }
  return target;
}

std::string PosixFiles::DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string PosixFiles::TemporaryDirectory() { return posix::TemporaryDirectory(); }

int32_t PosixFiles::CreatePartial(const std::string& directory, std::string& path) {
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<uint64_t>(::getpid()) ^
                         static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".kadroo-%016llx.part", static_cast<unsigned long long>(random()));
    path = directory + name;
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd) return 0;
    if (errno != EEXIST) break;
  }
  const int err = errno;
  path.clear();
  return ErrorFromErrno(err);
}

uint64_t PosixFiles::SizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

int32_t PosixFiles::MoveOnto(const std::string& partial, const std::string& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::chmod(partial.c_str(), st.st_mode & 07777);
  if (::rename(partial.c_str(), target.c_str()) != 0) return ErrorFromErrno(errno);
  return 0;
}

int32_t PosixFiles::CopyInto(const std::string& partial, const std::string& target) {
  std::unique_ptr<ftp::LocalFile> in, out;
  uint64_t size = 0;
  if (int32_t err = OpenRead(partial, in, size)) return err;
  Fd file(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file) return ErrorFromErrno(errno);
  out = std::make_unique<FdFile>(std::move(file));
  auto buffer = std::make_unique<char[]>(ftp::kReceiveBuffer);
  for (;;) {
    size_t got = 0;
    if (int32_t err = in->Read(buffer.get(), ftp::kReceiveBuffer, got)) return err;
    if (got == 0) break;
    if (int32_t err = out->Write(buffer.get(), got)) return err;
  }
  return out->Close();
}

void PosixFiles::Remove(const std::string& path) { ::unlink(path.c_str()); }

int DescriptorOf(const ftp::LocalFile& file) {
  if (auto* f = dynamic_cast<const FdFile*>(&file)) return f->fd();
  return -1;
}

}  // namespace kadroo::posix
