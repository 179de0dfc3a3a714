#pragma once
// Reading the administrator's policy for pages (see safety/BridgePolicy.h): the JSON document is the same on
// every platform; where it comes from is the host's (a file on Linux, the registry on Windows).
#include <optional>
#include <string>

#include "safety/BridgePolicy.h"
#include "safety/PolicyGate.h"

namespace kadroo::jsonrpc {

// The policy in `text`: {"sites": {origin: {"ftpServers": [...], "programs": [...], "registryKeys": [...],
// "localFolders": [...]}}}. Folders and programs are absolute, or start with "~/" or "~\" (`home`, the user's
// home or profile folder); `paths` resolves them, links included. nullopt with `problem` saying what is wrong:
// one bad entry refuses the whole policy.
std::optional<BridgePolicy> ParseBridgePolicy(const std::string& text, const std::string& home, PathResolver& paths,
                                              std::string& problem);

// Linux (code/host/posix/PosixHostSystem.cpp): $KADROOA_POLICY_FILE, else /etc/kadrooa/policy.json.
std::string PolicyFilePath();

// Linux: the policy at `path`: empty when the file does not exist; nullopt with `problem` when it is refused (a
// file or folder that others than root may write, or a bad entry).
std::optional<BridgePolicy> LoadBridgePolicy(const std::string& path, std::string& problem);

}  // namespace kadroo::jsonrpc
