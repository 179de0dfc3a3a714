#include "host/posix/ftp/DataStream.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "host/posix/Fd.h"
#include "host/posix/LocalPath.h"
#include "host/posix/ftp/Socket.h"

namespace kadroo::posix {
namespace {

constexpr size_t kSpliceChunk = 1 << 20;  // one pipe's worth

void CopySocketToFile(int socket, int file, Flow& flow) {
  auto buffer = std::make_unique<char[]>(kCopyBuffer);
  for (;;) {
    const ssize_t n = ::recv(socket, buffer.get(), kCopyBuffer, 0);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      return flow.Fail(Flow::Failed::Network, errno);
    }
    if (!WriteAll(file, buffer.get(), static_cast<size_t>(n), flow)) return;
    flow.Moved(static_cast<size_t>(n));
  }
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size, Flow& flow) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      flow.Fail(Flow::Failed::Local, errno);
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// socket -> pipe -> file: the data never enters user space. Falls back to recv/write where the file system or the
// socket does not splice.
void ReceiveToFile(int socket, int file, Flow& flow) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return CopySocketToFile(socket, file, flow);
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  ::fcntl(writeEnd.get(), F_SETPIPE_SZ, static_cast<int>(kSpliceChunk));
  for (;;) {
    const ssize_t n = ::splice(socket, nullptr, writeEnd.get(), nullptr, kSpliceChunk, SPLICE_F_MOVE | SPLICE_F_MORE);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EINVAL || errno == ENOSYS) && flow.bytes == 0) return CopySocketToFile(socket, file, flow);
      return flow.Fail(Flow::Failed::Network, errno);
    }
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
      const ssize_t m = ::splice(readEnd.get(), nullptr, file, nullptr, left, SPLICE_F_MOVE | SPLICE_F_MORE);
      if (m > 0) {
        left -= static_cast<size_t>(m);
        flow.Moved(static_cast<size_t>(m));
        continue;
      }
      if (m < 0 && errno == EINTR) continue;
      if (m < 0 && (errno == EINVAL || errno == ENOSYS)) {
        // The file will not take spliced pages: empty the pipe by hand and copy from now on.
        auto buffer = std::make_unique<char[]>(kCopyBuffer);
        while (left > 0) {
          const ssize_t r = ::read(readEnd.get(), buffer.get(), std::min(left, kCopyBuffer));
          if (r <= 0) return flow.Fail(Flow::Failed::Local, r < 0 ? errno : EIO);
          if (!WriteAll(file, buffer.get(), static_cast<size_t>(r), flow)) return;
          left -= static_cast<size_t>(r);
          flow.Moved(static_cast<size_t>(r));
        }
        return CopySocketToFile(socket, file, flow);
      }
      return flow.Fail(Flow::Failed::Local, m < 0 ? errno : EIO);
    }
  }
}

// read and send rather than sendfile: into a server on the same machine, sendfile measured a third slower.
void CopyFileToSocket(int file, int socket, Flow& flow) {
  auto buffer = std::make_unique<char[]>(kSendBuffer);
  for (;;) {
    const ssize_t n = ::read(file, buffer.get(), kSendBuffer);
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      return flow.Fail(Flow::Failed::Local, errno);
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t m = ::send(socket, buffer.get() + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
      if (m < 0) {
        if (errno == EINTR) continue;
        return flow.Fail(Flow::Failed::Network, errno);
      }
      done += m;
      flow.Moved(static_cast<size_t>(m));
    }
  }
}

int32_t FlowError(const Flow& flow) {
  if (flow.failed == Flow::Failed::Local) return ErrorFromErrno(flow.err);
  return ErrorFromSocket(flow.err);
}

}  // namespace kadroo::posix
