#pragma once
// The IObjectSafety interface's identifiers and option bits, without the platform's headers.
#include <cstdint>
#include <cstring>

namespace kadroo {

// The layout of a COM interface identifier.
struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  friend bool operator==(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof(Guid)) == 0; }
};
static_assert(sizeof(Guid) == 16);

constexpr Guid IID_IObjectSafety = {0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IPersistStorage = {0x0000010A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IPersistStream = {0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr Guid IID_IPersistPropertyBag = {0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x00000001;
constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x00000002;

using HResult = int32_t;
constexpr HResult S_OK = 0;
constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002);
constexpr HResult E_FAIL = static_cast<HResult>(0x80004005);

}  // namespace kadroo
