#pragma once
// Reading the administrator's policy for pages (see safety/BridgePolicy.h) from its JSON file.
#include <optional>
#include <string>

#include "safety/BridgePolicy.h"

namespace kadroo::jsonrpc {

// $KADROOA_POLICY_FILE, else /etc/kadrooa/policy.json.
std::string PolicyFilePath();

// The policy in `text`: {"sites": {origin: {"ftpServers": [...], "programs": [...], "registryKeys": [...],
// "localFolders": [...]}}}. Folders and programs may start with "~/" (`home`); they are resolved here, links
// included. nullopt with `problem` saying what is wrong: one bad entry refuses the whole policy.
std::optional<BridgePolicy> ParseBridgePolicy(const std::string& text, const std::string& home, std::string& problem);

// The policy at `path`: empty when the file does not exist; nullopt with `problem` when it is refused (a file
// or folder that others than root may write, or a bad entry).
std::optional<BridgePolicy> LoadBridgePolicy(const std::string& path, std::string& problem);

}  // namespace kadroo::jsonrpc
