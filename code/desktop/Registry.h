#pragma once
// The registry, read only, as advapi32's ANSI functions offer it: names and data in the code page,
// results 0 on success or a platform error code.
#include <cstdint>
#include <string>

namespace kadroo {

using RegKey = uint32_t;
constexpr RegKey HKEY_CLASSES_ROOT = 0x80000000;
constexpr RegKey HKEY_CURRENT_USER = 0x80000001;
constexpr RegKey HKEY_LOCAL_MACHINE = 0x80000002;
constexpr RegKey HKEY_USERS = 0x80000003;
constexpr RegKey HKEY_CURRENT_CONFIG = 0x80000005;
constexpr RegKey HKEY_DYN_DATA = 0x80000006;

// The root keys by the names that key paths and registry files use.
struct RootKeyName {
  const char16_t* name;
  RegKey key;
};
inline constexpr RootKeyName kRootKeyNames[] = {
    {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {u"HKEY_USERS", HKEY_USERS},
    {u"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {u"HKEY_DYN_DATA", HKEY_DYN_DATA},
};

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_REG_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr int32_t ERROR_NO_MORE_ITEMS = 259;

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens `subKey` below `key` (an empty sub-key opens `key` itself) into `result`.
  virtual int32_t RegOpenKey(RegKey key, const std::string& subKey, RegKey& result) = 0;
  // With `data` null, sets *dataSize to the size needed. With a buffer, *dataSize is its size in and the
  // data's size out; ERROR_MORE_DATA when it does not fit. An empty name is the key's default value.
  virtual int32_t RegQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                                  uint32_t* dataSize) = 0;
  // The value at `index`: the name into `name` (*nameLength characters of room in, the name's length without
  // its NUL out; ERROR_MORE_DATA when it does not fit), and the data as RegQueryValueEx gives it.
  // ERROR_NO_MORE_ITEMS past the last value.
  virtual int32_t RegEnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                               uint8_t* data, uint32_t* dataSize) = 0;
  virtual int32_t RegCloseKey(RegKey key) = 0;
};

}  // namespace kadroo
