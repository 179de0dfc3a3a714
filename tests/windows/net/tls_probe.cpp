// The Windows streams of the FTP engine on their own: TLS over Winsock through Schannel against a test server.
//   tls_probe trust CERT.der           puts a test authority into the machine's root store
//   tls_probe probe HOST PORT [PIN]    handshake, one line out and one back, close_notify; twice on one credential
// Prints "ok LINE resumed=0|1" for each connection, or "error N" with the WinINet number, and exits 0 or 1.
#include "host/windows/net/TlsStream.h"
#include "host/windows/net/WinsockStream.h"

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kadroo::windows::net;

namespace {

int Trust(const char* path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  const BOOL added = root && ::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                                reinterpret_cast<const BYTE*>(der.data()),
                                                                static_cast<DWORD>(der.size()),
                                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  std::printf(added ? "trusted\n" : "error %lu\n", ::GetLastError());
  if (root) ::CertCloseStore(root, 0);
  return added ? 0 : 1;
}

// 64 hex digits, colons between pairs allowed; empty when malformed.
std::string PinBytes(const std::string& text) {
  std::string bytes, digits;
  for (char c : text) {
    if (c != ':') digits += c;
  }
  if (digits.size() != 64) return {};
  for (size_t i = 0; i < digits.size(); i += 2) bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return bytes;
}

int32_t Exchange(TlsCredentials& credentials, const std::string& host, uint16_t port, const std::string& pin) {
  const Deadline deadline = Clock::now() + std::chrono::seconds(20);
  std::unique_ptr<WinsockStream> socket;
  if (int32_t err = WinsockStream::Connect(host, port, deadline, socket)) return err;
  TlsStream tls(credentials, std::move(socket), host, pin);
  if (int32_t err = tls.Handshake(deadline)) return err;
  const std::string line = "kadroo over schannel\n";
  if (int32_t err = tls.Write(line.data(), line.size(), deadline)) return err;
  std::string answer;
  char buffer[256];
  while (answer.find('\n') == std::string::npos) {
    size_t got = 0;
    if (int32_t err = tls.Read(buffer, sizeof buffer, deadline, got)) return err;
    if (got == 0) break;
    answer.append(buffer, got);
  }
  if (int32_t err = tls.Shutdown(deadline)) return err;
  std::printf("ok %s resumed=%d\n", answer.substr(0, answer.find('\n')).c_str(), tls.Resumed() ? 1 : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "trust") return Trust(argv[2]);
  if ((argc != 4 && argc != 5) || std::string(argv[1]) != "probe") {
    std::fprintf(stderr, "usage: tls_probe trust CERT.der | tls_probe probe HOST PORT [SHA256]\n");
    return 2;
  }
  const std::string pin = argc == 5 ? PinBytes(argv[4]) : std::string();
  if (argc == 5 && pin.empty()) return 2;
  TlsCredentials credentials;
  for (int i = 0; i < 2; ++i) {
    if (int32_t err = Exchange(credentials, argv[2], static_cast<uint16_t>(std::stoi(argv[3])), pin)) {
      std::printf("error %d\n", err);
      return 1;
    }
  }
  return 0;
}
