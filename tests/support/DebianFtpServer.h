#pragma once
// One of the other FTP servers that Debian packages (proftpd, pure-ftpd, inetutils-ftpd) on 127.0.0.1 for the
// duration of a test, started by scripts/lib/ftpservers.sh as the benchmark starts it: unpacked, with a local user
// of its own whose home is a fresh root directory. Needs root; the first start fetches the package with apt.
//
//   kadroo::testing::DebianFtpServer server("proftpd", {"KADROOA_PROFTPD_DIGEST=1"});
//   server.WriteFile("docs/a.doc", "hello");
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace kadroo::testing {

class DebianFtpServer {
 public:
  DebianFtpServer(const std::string& name, const std::vector<std::string>& environment = {})
      : dir_("kadroo-" + name) {
    if (::geteuid() != 0) throw std::runtime_error(name + " tests must run as root (local users)");
    ::chmod(dir_.path().c_str(), 0755);
    root_ = dir_ / "root";
    const std::string scripts = std::filesystem::path(KADROOA_TEST_DATA).parent_path().parent_path() / "scripts";
    // The server lives as long as the script's standard input stays open.
    std::string script;
    for (const auto& e : environment) script += "export " + e + "; ";
    script += "source '" + scripts + "/lib/packages.sh' && source '" + scripts + "/lib/ftpservers.sh' || exit 1; " +
              "trap ftp_server_stop EXIT; ftp_server_start " + name + " '" + root_.string() + "' >&2 || exit 1; " +
              "echo \"$FTP_SERVER_PORT $FTP_SERVER_USER $FTP_SERVER_PASS\"; read -r _";
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      ::setpgid(0, 0);
      ::execl("/bin/bash", "bash", "-c", script.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    FILE* reply = ::fdopen(out[0], "r");
    char line[512] = {};
    const bool started = std::fgets(line, sizeof line, reply) != nullptr;
    std::fclose(reply);
    std::istringstream fields(line);
    fields >> port_ >> user_ >> password_;
    if (!started || port_ == 0 || user_.empty()) {
      Stop();
      throw std::runtime_error(name + " did not start (see the standard error above)");
    }
  }
  ~DebianFtpServer() { Stop(); }
  DebianFtpServer(const DebianFtpServer&) = delete;

  uint16_t port() const { return port_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  std::filesystem::path Path(const std::string& remote) const { return root_ / remote; }

  // Writes a server file (and its directories), owned by the FTP user so that it may replace or delete it.
  void WriteFile(const std::string& remote, const std::string& content) const {
    const auto path = Path(remote);
    std::filesystem::path dir = root_;
    for (const auto& part : std::filesystem::path(remote).parent_path()) {
      dir /= part;
      if (std::filesystem::create_directory(dir)) Chown(dir);
    }
    WriteWholeFile(path, content);
    Chown(path);
  }
  std::string ReadFile(const std::string& remote) const { return ReadWholeFile(Path(remote)); }

 private:
  void Chown(const std::filesystem::path& path) const {
    if (const passwd* pw = ::getpwnam(user_.c_str())) (void)!::chown(path.c_str(), pw->pw_uid, pw->pw_gid);
  }
  void Stop() {
    if (stdin_ >= 0) ::close(std::exchange(stdin_, -1));
    if (pid_ > 0) ::waitpid(std::exchange(pid_, -1), nullptr, 0);
  }

  TempDir dir_;
  std::filesystem::path root_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  uint16_t port_ = 0;
  std::string user_, password_;
};

}  // namespace kadroo::testing
