#include "safety/ObjectSafety.h"

#include <cstring>

#include "safety/basSafeCtl.h"

namespace kadroo {
namespace {

enum class SafetyKind { kScripting, kInitializing, kUnknown };

struct Recognised {
  const char16_t* text;
  SafetyKind kind;
};

constexpr Recognised kRecognised[] = {
    {u"{00020400-0000-0000-C000-000000000046}", SafetyKind::kScripting},     // IDispatch
    {u"{0000010A-0000-0000-C000-000000000046}", SafetyKind::kInitializing},  // IPersistStorage
    {u"{00000109-0000-0000-C000-000000000046}", SafetyKind::kInitializing},  // IPersistStream
    {u"{37D84F60-42CB-11CE-8135-00AA004BB851}", SafetyKind::kInitializing},  // IPersistPropertyBag
};

SafetyKind KindOf(const Guid* riid) {
  Guid iid;
  std::memcpy(&iid, riid, sizeof iid);
  const std::u16string text = GuidText(iid);
  for (const auto& entry : kRecognised) {
    if (text == entry.text) return entry.kind;
  }
  return SafetyKind::kUnknown;
}

}  // namespace

std::u16string GuidText(const Guid& iid) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text = u"{";
  auto hex = [&](uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 0xF];
  };
  hex(iid.Data1, 8);
  text += u'-';
  hex(iid.Data2, 4);
  text += u'-';
  hex(iid.Data3, 4);
  text += u'-';
  hex(iid.Data4[0], 2);
  hex(iid.Data4[1], 2);
  text += u'-';
  for (int i = 2; i < 8; ++i) hex(iid.Data4[i], 2);
  text += u'}';
  return text;
}

std::optional<Guid> GuidFromText(std::u16string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return std::nullopt;
  uint8_t bytes[16];
  size_t n = 0;
  for (size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != u'-') return std::nullopt;
      ++i;
      continue;
    }
    int value = 0;
    for (int k = 0; k < 2; ++k, ++i) {
      const char16_t c = text[i];
      int digit;
      if (c >= u'0' && c <= u'9') digit = c - u'0';
      else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
      else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
      else return std::nullopt;
      value = value * 16 + digit;
    }
    bytes[n++] = static_cast<uint8_t>(value);
  }
  Guid guid;
  guid.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return guid;
}

HResult IObjectSafety_GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                                uint32_t* pdwEnabledOptions) {
  *pdwSupportedOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  if (riid == nullptr) return S_OK;
  switch (KindOf(riid)) {
    case SafetyKind::kScripting:
      *pdwEnabledOptions = basSafeCtl::bScriptingSafe ? INTERFACESAFE_FOR_UNTRUSTED_CALLER : 0;
      return S_OK;
    case SafetyKind::kInitializing:
      *pdwEnabledOptions = basSafeCtl::bInitializingSafe ? INTERFACESAFE_FOR_UNTRUSTED_DATA : 0;
      return S_OK;
    case SafetyKind::kUnknown:
      break;
  }
  return E_NOINTERFACE;
}

HResult IObjectSafety_SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                                uint32_t dwEnabledOptions) {
  if (riid == nullptr) return S_OK;
  const uint32_t requested = dwOptionsSetMask & dwEnabledOptions;
  switch (KindOf(riid)) {
    case SafetyKind::kScripting:
      if (requested != INTERFACESAFE_FOR_UNTRUSTED_CALLER) return E_FAIL;
      return basSafeCtl::bScriptingSafe ? S_OK : E_FAIL;
    case SafetyKind::kInitializing:
      if (requested != INTERFACESAFE_FOR_UNTRUSTED_DATA) return E_FAIL;
      return basSafeCtl::bInitializingSafe ? S_OK : E_FAIL;
    case SafetyKind::kUnknown:
      break;
  }
  return E_NOINTERFACE;
}

}  // namespace kadroo
