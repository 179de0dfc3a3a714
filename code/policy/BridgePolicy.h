#pragma once
// What an administrator lets each site do with the control when a page reaches it through a browser: the FTP
// servers it may connect to, the programs it may start, the registry keys it may read and the local folders in
// which it may name files. Nothing is allowed that is not listed. These are the rules only; the host reads the
// settings (a file, the registry) and resolves local paths before asking them.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/Text.h"

namespace kadroo {

// Raised before anything is done; `refused` is "origin", "ftpServer", "program", "registryKey", "localFolder" or
// "method" (one the scripted interface does not know), `target` what was refused, as the page named it, and `why`
// an origin's refusal that is not the plain one (an invalid policy, a page without an address).
struct PolicyRefusal {
  std::string refused;
  std::string target;
  std::string why;
};

// A server as a connection sees it: the host name in lower case (an IPv6 address in full, without brackets)
// and the port number.
struct FtpServerTarget {
  std::string host;
  uint16_t port = 21;
  friend bool operator==(const FtpServerTarget&, const FtpServerTarget&) = default;
};

struct SitePolicy {
  std::vector<FtpServerTarget> ftpServers;
  std::vector<std::string> programs;      // absolute paths, as the host resolves them
  std::vector<Text> registryKeys;         // in the form RegistryKeyPath gives
  std::vector<std::string> localFolders;  // absolute paths, as the host resolves them
};

struct BridgePolicy {
  std::map<std::string, SitePolicy> sites;  // by origin: scheme://host[:port], exactly as the browser reports it
};

// How a host turns a path the page names into the form the policy's entries have (absolute, "." and ".."
// resolved, links followed for the part that exists; on Windows also one letter case), or nullopt.
class PathResolver {
 public:
  virtual ~PathResolver() = default;
  virtual std::optional<std::string> ResolvePath(TextView path) = 0;      // a file or folder
  virtual std::optional<std::string> ResolveFolderOf(TextView path) = 0;  // a program: its folder resolved
  // Whether `path` names a file that has other names too (hard links): what it holds may belong elsewhere, and no
  // path shows it.
  virtual bool HasOtherNames(TextView path) = 0;
};

// An entry of the policy: "host", "host:port", "[IPv6]" or "[IPv6]:port", the port decimal (21 when absent).
std::optional<FtpServerTarget> ParseFtpServerEntry(std::string_view entry);
// Where the control connects for the server text that setparm stored ("path="): nullopt when the control would
// not connect to anything (an empty text), and a target with an empty host when it could not be reached at all.
std::optional<FtpServerTarget> ConnectionTarget(TextView serverText);
std::string Describe(const FtpServerTarget& target);
// Host names and schemes compare in any letter case.
std::string AsciiLower(std::string_view text);

// A key as the control opens it: the root in the control's spelling (HKLM and the like become the names it
// accepts), then the subkey's components, one trailing backslash dropped. nullopt when the root is not one
// the control accepts (with `abbreviations`, the short names are accepted too, as administrators write them).
std::optional<Text> RegistryKeyPath(TextView key, bool abbreviations);

// An absolute path with "." and ".." and repeated separators resolved by their text alone; nullopt when the
// path is not absolute.
std::optional<std::string> NormalizePath(std::string_view path);

bool AllowsFtpServer(const SitePolicy& site, const FtpServerTarget& target);
bool AllowsProgram(const SitePolicy& site, std::string_view resolvedPath);
// The key itself or any key under a listed key, component by component, in any letter case.
bool AllowsRegistryKey(const SitePolicy& site, TextView key);
// A file inside a listed folder (at any depth); the folder itself is not a file in it.
bool AllowsLocalPath(const SitePolicy& site, std::string_view resolvedPath);

}  // namespace kadroo
