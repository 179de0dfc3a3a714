// winplat_bench: one timed download and one timed upload of the same file, either through the control (the
// plain KadroOcx object over the Windows platform layer: GetFileToFile, PutFile) or through the bare WinINet
// calls that carry them (InternetOpenA, InternetConnectA, FtpGetFileA or FtpPutFileA, InternetCloseHandle).
// Prints "get_seconds=S" and "put_seconds=S"; exits 1 when a transfer failed.
//
//   winplat_bench control|bare PORT USER PASS REMOTE LOCAL UPLOAD_REMOTE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "control/KadroOcx.h"
#include "host/windows/platform/WindowsPlatform.h"

#include <windows.h>
#include <wininet.h>

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Transfer>
bool Timed(const char* name, Transfer transfer) {
  const double start = Now();
  const bool ok = transfer();
  std::printf("%s=%.4f\n", name, Now() - start);
  if (!ok) std::fprintf(stderr, "winplat_bench: %s failed\n", name);
  return ok;
}

struct Args {
  std::string port, user, pass, remote, local, upload;
};

int Control(const Args& a) {
  using kadroo::FromAscii;
  kadroo::windows::WindowsPlatform host;
  kadroo::KadroOcx ocx(host.platform());
  const kadroo::Text parm = FromAscii("uid=" + a.user + ";path=127.0.0.1:" + a.port + ";pass=" + a.pass);
  ocx.setparm(parm, u";", 1);
  const bool got = Timed("get_seconds", [&] { return ocx.GetFileToFile(FromAscii(a.remote), FromAscii(a.local)) == 1; });
  // An editor's save, outside the timing: an unchanged file would stop the upload at the unsaved-edit warning.
  HANDLE file = CreateFileA(a.local.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  time.dwHighDateTime += 1;
  SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  ocx.setparm(parm, u";", 1);
  const bool put = Timed("put_seconds", [&] { return ocx.PutFile(FromAscii(a.local), FromAscii(a.upload), 0) == 1; });
  return got && put ? 0 : 1;
}

// One connection per transfer, as the control makes it.
template <typename Transfer>
bool Bare(const Args& a, Transfer transfer) {
  HINTERNET session = InternetOpenA("vb activex", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
  if (!session) return false;
  HINTERNET connection = InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(std::atoi(a.port.c_str())),
                                          a.user.c_str(), a.pass.c_str(), INTERNET_SERVICE_FTP,
                                          INTERNET_FLAG_PASSIVE, 0);
  const bool ok = connection && transfer(connection);
  if (connection) InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return ok;
}

int BareCalls(const Args& a) {
  const bool got = Timed("get_seconds", [&] {
    return Bare(a, [&](HINTERNET c) {
      return FtpGetFileA(c, a.remote.c_str(), a.local.c_str(), FALSE, 0, INTERNET_FLAG_RELOAD, 0) != FALSE;
    });
  });
  const bool put = Timed("put_seconds", [&] {
    return Bare(a, [&](HINTERNET c) {
      return FtpPutFileA(c, a.local.c_str(), a.upload.c_str(), FTP_TRANSFER_TYPE_BINARY, 0) != FALSE;
    });
  });
  return got && put ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 8 ? argv[1] : "";
  if (mode != "control" && mode != "bare") {
    std::fprintf(stderr, "usage: winplat_bench control|bare PORT USER PASS REMOTE LOCAL UPLOAD_REMOTE\n");
    return 2;
  }
  const Args args{argv[2], argv[3], argv[4], argv[5], argv[6], argv[7]};
  return mode == "control" ? Control(args) : BareCalls(args);
}
