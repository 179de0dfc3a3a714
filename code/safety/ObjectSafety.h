#pragma once
// IObjectSafety's two methods as portable logic; the COM host forwards to these.
#include <cstdint>
#include <string>

#include "safety/objsafe.h"

namespace kadroo {

// The registry-format text of an identifier, as StringFromGUID2 writes it, upper-case.
std::u16string GuidText(const Guid& iid);

// `riid` may be null. Writes the supported word first, whatever `riid` is.
HResult IObjectSafety_GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                                uint32_t* pdwEnabledOptions);
HResult IObjectSafety_SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                                uint32_t dwEnabledOptions);

}  // namespace kadroo
