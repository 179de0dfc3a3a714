// Prints the FTP client's throughput, CPU time and peak RSS for one download and one upload against vsftpd,
// beside curl's for the same file when curl is installed. Not a test: nothing is asserted.
//
//   ftp_bench [MiB=1024] [local dir=/dev/shm] [passive|active]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "FtpTestSupport.h"
#include "support/VsftpdServer.h"

using namespace kadroo;
using namespace kadroo::testing;

namespace {

double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; }

void Report(const char* what, uint64_t bytes, double wall, const rusage& before, const rusage& after) {
  const double cpu = Seconds(after.ru_utime) - Seconds(before.ru_utime) + Seconds(after.ru_stime) -
                     Seconds(before.ru_stime);
  std::printf("%-22s %8.0f MB/s  cpu %5.2f s  peak RSS %6.1f MiB\n", what, static_cast<double>(bytes) / wall / 1e6,
              cpu, static_cast<double>(after.ru_maxrss) / 1024.0);
}

// Runs a shell command and reports it as a child process.
void RunChild(const char* what, const std::string& command, uint64_t bytes) {
  rusage before{}, after{};
  getrusage(RUSAGE_CHILDREN, &before);
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) {
    std::printf("%-22s failed: %s\n", what, command.c_str());
    return;
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  getrusage(RUSAGE_CHILDREN, &after);
  Report(what, bytes, wall, before, after);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 1024;
  const std::filesystem::path localDir = argc > 2 ? argv[2] : "/dev/shm";
  const bool passive = !(argc > 3 && std::string(argv[3]) == "active");
  const uint64_t bytes = mib << 20;

  VsftpdServer server;
  {
    std::string block = Pattern(1 << 20);
    std::ofstream out(server.Path("big.bin"), std::ios::binary);
    for (uint64_t i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  std::filesystem::permissions(server.Path("big.bin"), std::filesystem::perms::all);
  const std::string local = (localDir / "kadroo-bench.bin").string();
  ClientUnderTest ftp(std::chrono::seconds(60));
  const Handle session = ftp.Open();
  const Handle c = ftp.Connect(session, server.host(), server.port(), server.user(), server.password(),
                               passive ? INTERNET_FLAG_PASSIVE : 0);
  if (c <= 0) {
    std::fprintf(stderr, "login failed: %d\n", ftp.error.code);
    return 1;
  }
  std::printf("%llu MiB, %s mode, local file in %s\n", static_cast<unsigned long long>(mib),
              passive ? "passive" : "active", localDir.c_str());

  // Writeback of one run's output must not land in the next one's figures.
  rusage before{}, after{};
  for (int round = 0; round < 2; ++round) {  // the first finds no local file; the second replaces it
    ::sync();
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    if (!ftp.Get(c, "big.bin", local)) {
      std::fprintf(stderr, "download failed: %d\n", ftp.error.code);
      return 1;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    Report(round == 0 ? "kadroo download (new)" : "kadroo download (over)", bytes, wall, before, after);
  }
  ::sync();
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  if (!ftp.Put(c, local, "up.bin")) {
    std::fprintf(stderr, "upload failed: %d\n", ftp.error.code);
    return 1;
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  getrusage(RUSAGE_SELF, &after);
  Report("kadroo upload", bytes, wall, before, after);
  ftp.client.InternetCloseHandle(session);

  if (std::system("command -v curl >/dev/null") == 0) {
    const std::string url = "ftp://" + server.user() + ":" + server.password() + "@127.0.0.1:" +
                            std::to_string(server.port()) + "/";
    const std::string mode = passive ? "" : " -P 127.0.0.1";
    ::sync();
    RunChild("curl download", "curl -s" + mode + " -o " + local + " " + url + "big.bin", bytes);
    ::sync();
    RunChild("curl upload", "curl -s" + mode + " -T " + local + " " + url + "up2.bin", bytes);
    std::printf("(child peak RSS is the largest of all children so far)\n");
  }
  std::filesystem::remove(local);
  return 0;
}
