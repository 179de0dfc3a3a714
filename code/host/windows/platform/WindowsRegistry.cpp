#include "host/windows/platform/WindowsRegistry.h"

namespace kadroo::windows {
namespace {

constexpr RegKey kFirstRoot = 0x80000000;
constexpr RegKey kLastRoot = 0x80000006;

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

HKEY WindowsRegistry::Lookup(RegKey key) {
  // The predefined roots are 32-bit values sign-extended to the pointer's width, as windows.h defines them.
  if (key >= kFirstRoot && key <= kLastRoot) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<int32_t>(key))));
  }
  unique_hkey* opened = keys_.Find(static_cast<Handle>(key));
  return opened ? opened->get() : nullptr;
}

int32_t WindowsRegistry::RegOpenKey(RegKey key, const std::string& subKey, RegKey& result) {
  HKEY parent = Lookup(key);
  if (!parent) return ERROR_INVALID_HANDLE;
  // The ANSI call would stop at a NUL and open another key.
  if (HasNul(subKey)) return ERROR_INVALID_NAME;
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyA(parent, subKey.c_str(), &opened);
  if (status != ERROR_SUCCESS) return status;
  result = static_cast<RegKey>(keys_.Add(unique_hkey(opened)));
  return ERROR_SUCCESS;
}

int32_t WindowsRegistry::RegQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                                         uint32_t* dataSize) {
  HKEY opened = Lookup(key);
  if (!opened) return ERROR_INVALID_HANDLE;
  if (HasNul(valueName)) return ERROR_FILE_NOT_FOUND;
  DWORD valueType = 0;
  DWORD size = dataSize ? *dataSize : 0;
  const LONG status =
      ::RegQueryValueExA(opened, valueName.c_str(), nullptr, &valueType, data, dataSize ? &size : nullptr);
  if (type) *type = valueType;
  if (dataSize) *dataSize = size;
  return status;
}

int32_t WindowsRegistry::RegEnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                                      uint32_t* type, uint8_t* data, uint32_t* dataSize) {
  HKEY opened = Lookup(key);
  if (!opened) return ERROR_INVALID_HANDLE;
  DWORD length = *nameLength;
  DWORD valueType = 0;
  DWORD size = dataSize ? *dataSize : 0;
  const LONG status =
      ::RegEnumValueA(opened, index, name, &length, nullptr, &valueType, data, dataSize ? &size : nullptr);
  *nameLength = length;
  if (type) *type = valueType;
  if (dataSize) *dataSize = size;
  return status;
}

int32_t WindowsRegistry::RegCloseKey(RegKey key) {
  if (key >= kFirstRoot && key <= kLastRoot) return ERROR_SUCCESS;
  unique_hkey* opened = keys_.Find(static_cast<Handle>(key));
  if (!opened) return ERROR_INVALID_HANDLE;
  const LONG status = ::RegCloseKey(opened->release());
  keys_.Remove(static_cast<Handle>(key));
  return status;
}

}  // namespace kadroo::windows
