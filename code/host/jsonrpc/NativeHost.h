#pragma once
// kadrooa started by a browser: one control served over the browsers' native messaging on standard input and
// output, to the origin the extension names in the handshake, within what the administrator's policy allows.
#include <string>

#include "host/jsonrpc/HostSystem.h"

namespace kadroo::jsonrpc {

inline constexpr int kBridgeProtocol = 1;

// Whether argv is what a browser passes to a native messaging host: Chromium's, Chrome's and Edge's
// "chrome-extension://ID/" (and on Windows a --parent-window), or Firefox's manifest path and add-on id.
bool StartedByBrowser(int argc, char** argv);

// Serves until the end of input; the process's exit status.
int RunNativeHost(HostSystem& system, const std::string& version);

}  // namespace kadroo::jsonrpc
