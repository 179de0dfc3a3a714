// Where the policy comes from on Linux: a file that only root may change.
#include <cstdlib>

#include "host/jsonrpc/PolicyFile.h"
#include "host/posix/AdminFiles.h"
#include "host/posix/PosixLocalFiles.h"
#include "host/posix/PosixPaths.h"

namespace kadroo::jsonrpc {

std::string PolicyFilePath() {
  const char* path = std::getenv("KADROOA_POLICY_FILE");
  return path && *path ? path : "/etc/kadrooa/policy.json";
}

std::optional<BridgePolicy> LoadBridgePolicy(const std::string& path, std::string& problem) {
  auto text = posix::ReadRootOwnedFile(path, problem);
  if (!text) {
    if (problem.empty()) return BridgePolicy{};
    return std::nullopt;
  }
  // The file's own encoding, whatever the locale: entries keep the bytes the administrator wrote.
  posix::LocaleCodePage utf8("UTF-8");
  posix::PosixPaths paths(utf8);
  auto policy = ParseBridgePolicy(*text, posix::HomeDirectory(), paths, problem);
  if (!policy) problem = path + ": " + problem;
  return policy;
}

}  // namespace kadroo::jsonrpc
