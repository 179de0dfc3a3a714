// kadrooa on Linux: the policy from a file only root may change, the browser's streams on descriptors 0 and 1.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "host/jsonrpc/HostSystem.h"
#include "host/posix/AdminFiles.h"
#include "host/posix/PosixLocalFiles.h"
#include "host/posix/PosixPaths.h"
#include "host/posix/PosixPlatform.h"
#include "host/posix/ftp/PosixFtpClient.h"
#include "policy/PolicyDocument.h"

namespace kadroo::posix {
namespace {

class PosixHostSystem final : public jsonrpc::HostSystem {
 public:
  Platform& platform() override { return host_.platform(); }
  PathResolver& paths() override { return paths_; }
  // $KADROOA_POLICY_FILE, else /etc/kadrooa/policy.json, read only when root alone may change it.
  PolicyLoad LoadPolicy() override {
    const char* set = std::getenv("KADROOA_POLICY_FILE");
    const std::string path = set && *set ? set : "/etc/kadrooa/policy.json";
    std::string problem;
    const auto text = ReadRootOwnedFile(path, problem);
    if (!text) return problem.empty() ? PolicyLoad{PolicyLoad::Status::kAbsent, {}, "", path} : RefusedPolicy(path, problem);
    // The file's own encoding, whatever the locale: entries keep the bytes the administrator wrote.
    LocaleCodePage utf8("UTF-8");
    PosixPaths paths(utf8);
    return ParsePolicy(*text, HomeDirectory(), paths, path);
  }
  void ObserveTransfers(TransferObserver* observer) override { host_.ftp().SetTransferObserver(observer); }

  bool TakeBrowserStreams() override {
    ::signal(SIGPIPE, SIG_IGN);
    out_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const bool moved = out_ >= 0 && (::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0 || ::dup2(null, STDOUT_FILENO) >= 0);
    if (null >= 0) ::close(null);
    return moved;
  }

  size_t ReadInput(char* buffer, size_t size) override {
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, size);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<size_t>(n) : 0;
    }
  }

  bool WriteOutput(std::string_view bytes) override {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(out_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  void WatchInputEnd(std::function<void()> ended) override {
    std::thread([ended = std::move(ended)] {
      pollfd watched{STDIN_FILENO, 0, 0};  // no events asked: poll returns on hang-up or error alone
      while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
      }
      ended();
    }).detach();
  }

 private:
  PosixPlatform host_;
  PosixPaths paths_{host_.platform().codePage};
  int out_ = -1;
};

}  // namespace
}  // namespace kadroo::posix

std::unique_ptr<kadroo::jsonrpc::HostSystem> kadroo::jsonrpc::MakeHostSystem() {
  return std::make_unique<posix::PosixHostSystem>();
}
