#pragma once
// IObjectSafety's two methods as portable logic; the COM host forwards to these.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "safety/objsafe.h"

namespace kadroo {

// The registry-format text of an identifier, as StringFromGUID2 writes it, upper-case.
std::u16string GuidText(const Guid& iid);

// Reads the registry-format text back, in either letter case; nullopt when it is not one.
std::optional<Guid> GuidFromText(std::u16string_view text);

// `riid` may be null. Writes the supported word first, whatever `riid` is.
HResult IObjectSafety_GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                                uint32_t* pdwEnabledOptions);
HResult IObjectSafety_SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                                uint32_t dwEnabledOptions);

}  // namespace kadroo
