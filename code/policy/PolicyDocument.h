#pragma once
// The administrator's policy for pages as a document: the same JSON text on every platform; where it is kept is
// the host's (a file on Linux, the registry on Windows), and each host's loader gives a PolicyLoad.
#include <string>

#include "policy/BridgePolicy.h"

namespace kadroo {

class PathResolver;

// A policy as a host found it. "Absent" (nothing there) and "refused" (there, but not a valid policy, or not to
// be trusted) are kept apart: the ActiveX control without a policy behaves as it always did, while a refused
// policy refuses every site.
struct PolicyLoad {
  enum class Status { kAbsent, kRefused, kLoaded };
  Status status = Status::kAbsent;
  BridgePolicy policy;  // kLoaded
  std::string problem;  // kRefused: what is wrong, and where
  std::string place;    // where the host keeps it: the file, the registry key

  bool absent() const { return status == Status::kAbsent; }
  bool loaded() const { return status == Status::kLoaded; }
};

// The policy in `text`, kept at `place`: {"sites": {origin: {"ftpServers": [...], "programs": [...],
// "registryKeys": [...], "localFolders": [...]}}}. Folders and programs are absolute, or start with "~/" or "~\"
// (`home`, the user's home or profile folder); `paths` resolves them, links included. One bad entry refuses the
// whole policy, the problem naming `place`.
PolicyLoad ParsePolicy(const std::string& text, const std::string& home, PathResolver& paths,
                       const std::string& place);
// A policy refused before its text was read.
PolicyLoad RefusedPolicy(const std::string& place, const std::string& problem);

}  // namespace kadroo
