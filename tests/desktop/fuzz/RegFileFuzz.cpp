// libFuzzer target: any bytes as a registry file, parsed in two code pages, merged into a registry and read
// back through the advapi32-shaped functions the way the control reads them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/posix/PosixLocalFiles.h"
#include "host/posix/registry/FileRegistry.h"

namespace {

using namespace kadroo;
using namespace kadroo::posix;

void ReadEverything(FileRegistry& registry, const RegFileContent& content, CodePage& codePage) {
  for (const auto& statement : content.statements) {
    if (statement.kind != RegStatement::Kind::kOpenKey) continue;
    Text path;
    for (const auto& name : statement.key.names) path += (path.empty() ? u"" : u"\\") + name;
    auto ansi = codePage.ToAnsi(path);
    if (!ansi) continue;
    RegKey key = 0;
    if (registry.RegOpenKey(statement.key.root, *ansi, key) != ERROR_SUCCESS) continue;
    for (uint32_t index = 0;; ++index) {
      char probe[257];
      uint32_t nameLength = 256;
      uint32_t type = 0;
      uint32_t dataSize = 0;
      if (registry.RegEnumValue(key, index, probe, &nameLength, &type, nullptr, &dataSize) != ERROR_SUCCESS) break;
      if (nameLength >= 256) __builtin_trap();  // a name that does not fit must not be reported as fitting
      std::vector<char> name(nameLength + 1);
      std::vector<uint8_t> data(dataSize);
      nameLength = static_cast<uint32_t>(name.size());
      uint32_t size = dataSize;
      if (registry.RegEnumValue(key, index, name.data(), &nameLength, &type, data.data(), &size) != ERROR_SUCCESS ||
          size != dataSize) {
        __builtin_trap();  // the sizes the first call gave must be enough
      }
      uint32_t querySize = 0;
      if (registry.RegQueryValueEx(key, std::string(name.data(), nameLength), &type, nullptr, &querySize) ==
          ERROR_SUCCESS) {
        std::vector<uint8_t> again(querySize);
        registry.RegQueryValueEx(key, std::string(name.data(), nameLength), &type, again.data(), &querySize);
      }
    }
    registry.RegCloseKey(key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LocaleCodePage utf8("UTF-8");
  static LocaleCodePage gbk("GBK");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (CodePage* codePage : {static_cast<CodePage*>(&utf8), static_cast<CodePage*>(&gbk)}) {
    RegFileContent content = ParseRegFile(bytes, *codePage);
    auto tree = std::make_shared<RegTree>();
    tree->Apply(content);
    FileRegistry registry(*codePage, tree);
    ReadEverything(registry, content, *codePage);
  }
  return 0;
}
