#pragma once
// kadrooa --diagnose: which part of the bridge is missing, for administrators and help desks. The platform says
// what is installed (HostSystem::DescribeInstallation); this adds the host's own version, the policy's state and
// what a given site may do, and prints it in words or as JSON.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "host/jsonrpc/HostSystem.h"

namespace kadroo::jsonrpc {

// {"versions": {"kadrooa", "protocol", and the platform's parts}, "browsers": [...], "policy": {"state": "absent" |
// "refused" | "loaded", "source", "reason", "origins"}, "site": {...} (with an origin), "problems": [...]}.
nlohmann::json Diagnose(HostSystem& system, const std::string& version, const std::optional<std::string>& origin);

// The same in words.
std::string DescribeDiagnosis(const nlohmann::json& diagnosis);

// kadrooa --diagnose [--json] [ORIGIN]: prints the diagnosis; 0 when nothing is missing, 1 otherwise, 2 for a
// wrong argument.
int RunDiagnosis(HostSystem& system, const std::string& version, int argc, char** argv);

}  // namespace kadroo::jsonrpc
