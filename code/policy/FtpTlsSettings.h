#pragma once
// The administrator's FTP over TLS settings: which FTP servers every FTP session of this machine must reach over
// TLS, whoever asks for the connection (a page through the ActiveX control with or without a site list, the
// kadrooa line protocol, either native host), and, for a server whose certificate no public authority signed, the
// SHA-256 fingerprint of its certificate. They do not switch on the site lock and change nothing else for pages.
//
// Where: /etc/kadrooa/ftp-tls.json on Linux (root's file, as the policy: $KADROOA_FTP_TLS_FILE names another),
// on Windows the REG_SZ value "FtpTls" beside "Policy" under HKLM\SOFTWARE\Policies\KadroOA. The same JSON text:
//
//   {"servers": {"ftp.example.org": {},
//                "10.1.2.3:2121": {"sha256": "5E:1F:...:A0"}}}
//
// A key of "servers" names a server as the policy's "ftpServers" entries do: "host", "host:port", "[IPv6]" or
// "[IPv6]:port", port 21 when absent; hosts compare in ASCII lower case, IPv6 addresses in full. Each named server
// requires TLS. "sha256" is the certificate's SHA-256 digest, 64 hexadecimal digits, with or without colons
// ("openssl x509 -noout -fingerprint -sha256" prints it). Nothing else may appear.
//
// A document that is missing or empty requires nothing. One that cannot be used (not JSON, an unknown setting, a
// bad server or fingerprint, a file that others than root may change) requires TLS for every server, without
// pins, and its problem is reported: a broken setting never lets a password go out in clear text.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kadroo {

using CertificateFingerprint = std::array<uint8_t, 32>;

// What the settings demand of a connection: TLS, and where given the certificate's fingerprint alone.
struct FtpTlsRequirement {
  std::optional<CertificateFingerprint> pin;
};

struct FtpTlsSettings {
  bool everyServer = false;  // set for a document that could not be used
  std::map<std::string, std::optional<CertificateFingerprint>> servers;  // by Describe(FtpServerTarget): "host:port"

  // Whether a connection to `host` (without brackets) and `port` (0 for 21) must use TLS, and with what pin.
  std::optional<FtpTlsRequirement> For(const std::string& host, uint16_t port) const;
};

// The settings in `text`; with `problem` set (and everyServer) when they cannot be used.
FtpTlsSettings ParseFtpTlsSettings(const std::string& text, std::string& problem);

}  // namespace kadroo
