#include "host/posix/ftp/TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

#include "host/posix/LocalPath.h"
#include "host/posix/ftp/DataStream.h"

namespace kadroo::posix {

TempFile::TempFile(const std::string& dir, int& error) {
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<uint64_t>(::getpid()) ^
                         static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".kadroo-%016llx.part", static_cast<unsigned long long>(random()));
    path_ = dir + name;
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd_) return;
    if (errno != EEXIST) break;
  }
  error = errno;
  path_.clear();
}

TempFile::~TempFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

int32_t TempFile::RenameOver(const std::string& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd_.get(), st.st_mode & 07777);
  if (::close(fd_.release()) != 0) return ErrorFromErrno(errno);
  if (::rename(path_.c_str(), target.c_str()) != 0) return ErrorFromErrno(errno);
  path_.clear();
  return 0;
}

int32_t TempFile::CopyInto(const std::string& target) {
  if (::lseek(fd_.get(), 0, SEEK_SET) != 0) return ErrorFromErrno(errno);
  Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out) return ErrorFromErrno(errno);
  auto buffer = std::make_unique<char[]>(kCopyBuffer);
  Flow flow;
  for (;;) {
    const ssize_t n = ::read(fd_.get(), buffer.get(), kCopyBuffer);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrorFromErrno(errno);
    if (!WriteAll(out.get(), buffer.get(), static_cast<size_t>(n), flow)) return ErrorFromErrno(flow.err);
  }
  if (::close(out.release()) != 0) return ErrorFromErrno(errno);
  return 0;
}

}  // namespace kadroo::posix
