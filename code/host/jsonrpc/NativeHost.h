#pragma once
// kadrooa started by a browser: one control served over the browsers' native messaging on standard input and
// output, to the origin the extension names in the handshake, within what the administrator's policy allows.
#include <string>

#include <nlohmann/json.hpp>

#include "host/jsonrpc/HostSystem.h"

namespace kadroo::jsonrpc {

// The bridge's protocol: parts whose major numbers differ cannot talk; a newer minor number only adds to it.
inline constexpr int kBridgeProtocol = 1;
inline constexpr int kBridgeProtocolMinor = 0;

// Whether argv is what a browser passes to a native messaging host: Chromium's, Chrome's and Edge's
// "chrome-extension://ID/" (and on Windows a --parent-window), or Firefox's manifest path and add-on id.
bool StartedByBrowser(int argc, char** argv);

// Serves until the end of input; the process's exit status.
int RunNativeHost(HostSystem& system, const std::string& version);

// {"origins": [...]}: the sites the policy lists, none when it is refused (with `problem` set). The extension asks
// for it (kadrooa.origins, before a handshake) to hear only those pages; the browsers' own policies are written
// from it (kadrooa --browser-policy).
nlohmann::json ListedOrigins(HostSystem& system, std::string& problem);

}  // namespace kadroo::jsonrpc
