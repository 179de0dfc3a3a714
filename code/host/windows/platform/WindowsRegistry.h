#pragma once
// The registry through advapi32's ANSI entry points. The control's 32-bit key values stand for the predefined
// roots as they are; a key that RegOpenKey opens gets a number of this object's own (below the roots' range),
// so a 64-bit HKEY is never cut down.
#include "desktop/Registry.h"
#include "control/HandleTable.h"

#include "host/windows/platform/Win32.h"

namespace kadroo::windows {

class WindowsRegistry final : public Registry {
 public:
  int32_t RegOpenKey(RegKey key, const std::string& subKey, RegKey& result) override;
  int32_t RegQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                          uint32_t* dataSize) override;
  int32_t RegEnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                       uint8_t* data, uint32_t* dataSize) override;
  int32_t RegCloseKey(RegKey key) override;

 private:
  // The HKEY behind `key`, or null when it is neither a root nor open.
  HKEY Lookup(RegKey key);

  HandleTable<unique_hkey> keys_;
};

}  // namespace kadroo::windows
