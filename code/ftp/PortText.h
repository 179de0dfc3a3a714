#pragma once
// The host and port that a server text names.
#include <cstdint>

#include "control/Text.h"

namespace kadroo {

// The leading number of `text` as the runtime's Val reads it: blanks skipped anywhere, reading stops at the
// first character that cannot continue a number, &H and &O prefixes, a fraction and an exponent; no number is 0.
double LeadingNumber(TextView text);

// Splits the port off a server text, in place. "[address]:port", an IPv6 address in brackets, is split after
// the closing bracket and `server` keeps the brackets, so that splitting it again finds no port; every other
// text at its first colon, `port` getting everything after it. A text without a port leaves `port` as it was.
void SplitServerText(Text& server, Text& port);

// The host to connect to: the address inside the brackets of "[address]", otherwise the text itself.
TextView HostOfServerText(TextView server);

// The port for a connection: the leading number rounded half to even; 0 selects the FTP default.
// Raises RuntimeError 6 (overflow) for a value outside 0 to 65535.
uint16_t PortNumber(TextView portText);

}  // namespace kadroo
