#pragma once
// The port that a server text names after its colon.
#include <cstdint>

#include "control/Text.h"

namespace kadroo {

// The leading number of `text` as the runtime's Val reads it: blanks skipped anywhere, reading stops at the
// first character that cannot continue a number, &H and &O prefixes, a fraction and an exponent; no number is 0.
double LeadingNumber(TextView text);

// The port for a connection: the leading number rounded half to even; 0 selects the FTP default.
// Raises RuntimeError 6 (overflow) for a value outside 0 to 65535.
uint16_t PortNumber(TextView portText);

}  // namespace kadroo
