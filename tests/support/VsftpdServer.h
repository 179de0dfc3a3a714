#pragma once
// A real vsftpd on 127.0.0.1 for the duration of a test: its own configuration, a free port, a local user
// chrooted into a fresh root directory that the test seeds and inspects. Needs root (vsftpd's chroot and PAM) and
// the Debian package vsftpd; without them the constructor throws, so that a test fails instead of skipping.
//
//   kadroo::testing::VsftpdServer server;              // or VsftpdServer({.port = 40021})
//   server.WriteFile("doc/a.txt", "hello");
//   ... connect to server.host():server.port() as server.user() / server.password() ...
//   EXPECT_EQ(server.ReadFile("doc/a.txt.new"), "hello");
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/TempDir.h"

namespace kadroo::testing {

class VsftpdServer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/vsftpd";
  static constexpr const char* kUser = "kadroo-ftp";
  static constexpr const char* kPassword = "kadroo-ftp-secret";

  struct Options {
    uint16_t port = 0;  // 0: a free port that the harness picks
  };

  VsftpdServer() : VsftpdServer(Options()) {}
  explicit VsftpdServer(Options options) : dir_("kadroo-vsftpd") {
    if (::access(kBinary, X_OK) != 0) {
      throw std::runtime_error(std::string("vsftpd is not installed (") + kBinary +
                               " missing; Debian package vsftpd): the FTP integration tests need it");
    }
    if (::geteuid() != 0) throw std::runtime_error("vsftpd tests must run as root (chroot and local users)");
    EnsureUser();
    ::chmod(dir_.path().c_str(), 0755);
    root_ = dir_ / "root";
    std::filesystem::create_directory(root_);
    std::filesystem::create_directory(dir_ / "empty");
    ChownToUser(root_);
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = options.port ? options.port : FreePort(1024, 32767);
      if (Start()) return;
      if (options.port) break;
    }
    throw std::runtime_error("vsftpd did not start: " + Log());
  }

  ~VsftpdServer() { Stop(); }
  VsftpdServer(const VsftpdServer&) = delete;
  VsftpdServer& operator=(const VsftpdServer&) = delete;

  std::string host() const { return "127.0.0.1"; }
  uint16_t port() const { return port_; }
  std::string user() const { return kUser; }
  std::string password() const { return kPassword; }
  // The directory that the user sees as "/".
  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path Path(const std::string& remote) const { return root_ / std::filesystem::path(remote).relative_path(); }

  // Writes a server file (and its directories), owned by the FTP user so that it may replace or delete it.
  void WriteFile(const std::string& remote, const std::string& content) const {
    const auto path = Path(remote);
    MakeDirectory(path.parent_path().lexically_relative(root_).string());
    WriteWholeFile(path, content);
    ChownToUser(path);
  }
  std::string ReadFile(const std::string& remote) const { return ReadWholeFile(Path(remote)); }
  bool Exists(const std::string& remote) const { return std::filesystem::exists(Path(remote)); }
  void MakeDirectory(const std::string& remote) const {
    std::filesystem::path path = root_;
    for (const auto& part : std::filesystem::path(remote).relative_path()) {
      if (part.empty() || part == ".") continue;
      path /= part;
      if (std::filesystem::create_directory(path)) ChownToUser(path);
    }
  }

  // A TCP port of 127.0.0.1 in [min, max] that nothing listens on right now.
  static uint16_t FreePort(uint16_t min, uint16_t max) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const uint16_t port = static_cast<uint16_t>(min + random() % (max - min + 1));
      const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool free = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(s);
      if (free) return port;
    }
    throw std::runtime_error("no free port found");
  }

 private:
  static void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  }

  // Creates the FTP user once per machine and sets its password once per process, SHA-512 hashed: yescrypt would
  // cost vsftpd 30 ms per login. A lock keeps parallel test processes from racing useradd.
  static void EnsureUser() {
    static bool done = false;
    if (done) return;
    const int lock = ::open("/tmp/kadroo-vsftpd-user.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ::flock(lock, LOCK_EX);
    try {
      // vsftpd enters the home directory before local_root, so it must exist: "/" always does.
      const passwd* pw = ::getpwnam(kUser);
      if (!pw) {
        Run(std::string("useradd --no-create-home --home-dir / --shell /bin/sh ") + kUser);
      } else if (std::string(pw->pw_dir) != "/") {
        Run(std::string("usermod --home / ") + kUser);
      }
      Run(std::string("echo '") + kUser + ":" + kPassword + "' | chpasswd -c SHA512");
    } catch (...) {
      ::close(lock);
      throw;
    }
    ::close(lock);
    done = true;
  }

  static void ChownToUser(const std::filesystem::path& path) {
    const passwd* pw = ::getpwnam(kUser);
    if (!pw || ::chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("cannot chown " + path.string());
  }

  std::string Log() const {
    std::ifstream in(dir_ / "vsftpd.out");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool Start() {
    std::mt19937 random(std::random_device{}());
    const unsigned pasvMin = 20000 + random() % 10000;  // below the ephemeral range; vsftpd retries a busy port
    std::ofstream conf(dir_ / "vsftpd.conf", std::ios::trunc);
    conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_ << "\n"
         << "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
         << "chroot_local_user=YES\nallow_writeable_chroot=YES\nlocal_root=" << root_.string() << "\n"
         << "pasv_enable=YES\npasv_min_port=" << pasvMin << "\npasv_max_port=" << pasvMin + 200 << "\n"
         << "port_enable=YES\nconnect_from_port_20=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
         << "secure_chroot_dir=" << (dir_ / "empty").string() << "\npam_service_name=vsftpd\n"
         << "delay_failed_login=0\ndelay_successful_login=0\nmax_login_fails=100\nmax_clients=0\nmax_per_ip=0\n"
         << "xferlog_enable=NO\nuse_localtime=NO\nhide_ids=NO\n";
    conf.close();
    const std::string confPath = (dir_ / "vsftpd.conf").string();
    const std::string outPath = (dir_ / "vsftpd.out").string();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::setpgid(0, 0);
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execl(kBinary, kBinary, confPath.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      if (Greets()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Stop();
    return false;
  }

  // True once vsftpd accepts a connection and sends its 220.
  bool Greets() const {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      timeval tv{2, 0};
      ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      char buffer[256];
      const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
      ok = n >= 4 && std::string(buffer, 4) == "220 ";
      if (ok) (void)!::send(s, "QUIT\r\n", 6, MSG_NOSIGNAL);
    }
    ::close(s);
    return ok;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  TempDir dir_;
  std::filesystem::path root_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace kadroo::testing
