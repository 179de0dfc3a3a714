#pragma once
// The registry on Linux, read only, from registry files: every *.reg file of one directory, merged in name
// order (byte order of the names). The files are read again when the directory's files change, so an edit
// shows at the next open from a root key. A file that cannot be used leaves its keys unopenable
// (ERROR_REGISTRY_CORRUPT) rather than half read; LoadErrors() tells which file and line. The six roots are
// separate trees: HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG are not views of HKEY_LOCAL_MACHINE here.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/HandleTable.h"
#include "control/Platform.h"
#include "desktop/Registry.h"
#include "host/posix/registry/RegTree.h"

namespace kadroo::posix {

struct RegistryLoadError {
  std::string file;
  size_t line = 0;  // 0 when the whole file is at fault
  std::string message;
};

// One line for a person: "file:line: message".
std::string Describe(const RegistryLoadError& error);

constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_BAD_PATHNAME = 161;
constexpr int32_t ERROR_REGISTRY_CORRUPT = 1015;

class FileRegistry final : public Registry {
 public:
  using ErrorSink = std::function<void(const RegistryLoadError&)>;

  // Reads the files of `directory`; `onError` hears of each file that cannot be used, once per change.
  FileRegistry(CodePage& codePage, std::string directory, ErrorSink onError = {});
  // A fixed tree, read from nowhere.
  FileRegistry(CodePage& codePage, std::shared_ptr<const RegTree> tree);

  // $KADROOA_REGISTRY, or else $XDG_CONFIG_HOME/kadrooa/registry, or else ~/.config/kadrooa/registry.
  static std::string DefaultDirectory();

  const std::string& directory() const { return directory_; }
  // The files that could not be used at the last reading, after reading again if the files changed.
  const std::vector<RegistryLoadError>& LoadErrors();

  int32_t RegOpenKey(RegKey key, const std::string& subKey, RegKey& result) override;
  int32_t RegQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                          uint32_t* dataSize) override;
  int32_t RegEnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type, uint8_t* data,
                       uint32_t* dataSize) override;
  int32_t RegCloseKey(RegKey key) override;

 private:
  struct OpenKey {
    std::shared_ptr<const RegTree> tree;  // the reading the key was opened in, kept alive while it is open
    const RegNode* node = nullptr;
  };
  struct FileStamp {
    std::string name;
    int64_t size = 0;
    int64_t modified = 0;
    uint64_t inode = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
  };

  void Refresh();
  std::vector<FileStamp> Stamps(std::vector<RegistryLoadError>& errors) const;
  // A handle from the table, or a predefined root key in the current reading.
  std::optional<OpenKey> Find(RegKey key);
  // The value's data as the ANSI functions return it.
  std::string AnsiData(const RegValue& value) const;
  std::string AnsiText(TextView text) const;

  CodePage& codePage_;
  std::string directory_;
  ErrorSink onError_;
  bool fixed_ = false;
  std::shared_ptr<const RegTree> tree_;
  std::optional<std::vector<FileStamp>> stamps_;
  std::vector<RegistryLoadError> errors_;
  // Numbered as Windows numbers its keys: multiples of 4 from 0x100.
  HandleTable<OpenKey> open_{0x100, 4, 0x7FFFFFF4};
};

}  // namespace kadroo::posix
