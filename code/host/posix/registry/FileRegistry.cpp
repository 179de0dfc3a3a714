#include "host/posix/registry/FileRegistry.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kadroo::posix {
namespace {

bool IsPredefined(RegKey key) { return key >= 0x80000000u && key <= 0x80000006u; }

bool EndsWithRegIgnoringCase(const std::string& name) {
  if (name.size() <= 4) return false;
  return AsciiLower(std::string_view(name).substr(name.size() - 4)) == ".reg";
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::string("cannot open: ") + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    why = "cannot read";
    return std::nullopt;
  }
  return std::move(content).str();
}

Text FromLittleEndian(std::string_view bytes) {
  Text text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string Describe(const RegistryLoadError& error) {
  std::string where = error.file;
  if (error.line > 0) where += ":" + std::to_string(error.line);
  return where + ": " + error.message;
}

FileRegistry::FileRegistry(CodePage& codePage, std::string directory, ErrorSink onError)
    : codePage_(codePage), directory_(std::move(directory)), onError_(std::move(onError)) {
  Refresh();
}

FileRegistry::FileRegistry(CodePage& codePage, std::shared_ptr<const RegTree> tree)
    : codePage_(codePage), fixed_(true), tree_(std::move(tree)) {}

std::string FileRegistry::DefaultDirectory() {
  const char* explicitDir = std::getenv("KADROOA_REGISTRY");
  if (explicitDir && *explicitDir) return explicitDir;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/kadrooa/registry";
  const char* home = std::getenv("HOME");
  std::string homeDir = home && *home ? home : "";
  if (homeDir.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid())) homeDir = entry->pw_dir ? entry->pw_dir : "";
  }
  return homeDir + "/.config/kadrooa/registry";
}

const std::vector<RegistryLoadError>& FileRegistry::LoadErrors() {
  Refresh();
  return errors_;
}

std::vector<FileRegistry::FileStamp> FileRegistry::Stamps(std::vector<RegistryLoadError>& errors) const {
  std::vector<FileStamp> stamps;
  DIR* dir = ::opendir(directory_.c_str());
  if (dir == nullptr) {
    if (errno != ENOENT) errors.push_back({directory_, 0, std::string("cannot list: ") + std::strerror(errno)});
    return stamps;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!EndsWithRegIgnoringCase(name)) continue;
    struct stat st;
    if (::stat((directory_ + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    stamps.push_back({name, static_cast<int64_t>(st.st_size),
                      static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                      static_cast<uint64_t>(st.st_ino)});
  }
  ::closedir(dir);
  std::sort(stamps.begin(), stamps.end(), [](const FileStamp& a, const FileStamp& b) { return a.name < b.name; });
  return stamps;
}

void FileRegistry::Refresh() {
  if (fixed_) return;
  std::vector<RegistryLoadError> errors;
  std::vector<FileStamp> stamps = Stamps(errors);
  if (stamps_ && *stamps_ == stamps && errors.empty()) return;

  auto tree = std::make_shared<RegTree>();
  std::vector<RegFileContent> broken;
  for (const auto& stamp : stamps) {
    const std::string path = directory_ + "/" + stamp.name;
    std::string why;
    auto bytes = ReadWholeFile(path, why);
    if (!bytes) {
      errors.push_back({path, 0, why});
      continue;
    }
    RegFileContent content = ParseRegFile(*bytes, codePage_);
    if (content.error) {
      errors.push_back({path, content.error->line, content.error->message});
      broken.push_back(std::move(content));
    } else {
      tree->Apply(content);
    }
  }
  // Marked last, so that no later file can make a key of a broken file readable again.
  for (const auto& content : broken) tree->Apply(content);

  const bool changed = !stamps_ || *stamps_ != stamps;
  tree_ = std::move(tree);
  stamps_ = std::move(stamps);
  if (changed && onError_) {
    for (const auto& error : errors) onError_(error);
  }
  errors_ = std::move(errors);
}

std::optional<FileRegistry::OpenKey> FileRegistry::Find(RegKey key) {
  if (IsPredefined(key)) {
    Refresh();
    const RegNode* root = tree_ ? tree_->Root(key) : nullptr;
    if (root == nullptr) return std::nullopt;
    return OpenKey{tree_, root};
  }
  const OpenKey* open = open_.Find(static_cast<Handle>(key));
  if (!open) return std::nullopt;
  return *open;
}

int32_t FileRegistry::RegOpenKey(RegKey key, const std::string& subKey, RegKey& result) {
  auto start = Find(key);
  if (!start) return ERROR_INVALID_HANDLE;
  std::string_view path = subKey;
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  const RegNode* node = start->node;
  if (node->unreadable()) return ERROR_REGISTRY_CORRUPT;
  size_t begin = 0;
  while (!subKey.empty() && begin <= path.size()) {
    size_t end = path.find('\\', begin);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(begin, end - begin);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    node = node->Child(codePage_.FromAnsi(name));
    if (node == nullptr) return ERROR_REG_FILE_NOT_FOUND;
    if (node->unreadable()) return ERROR_REGISTRY_CORRUPT;
    begin = end + 1;
  }
  result = static_cast<RegKey>(open_.Add(OpenKey{start->tree, node}));
  return ERROR_SUCCESS;
}

std::string FileRegistry::AnsiText(TextView text) const {
  if (auto whole = codePage_.ToAnsi(text)) return *whole;
  // Characters the code page lacks become "?", as the ANSI functions give them.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t length = IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
    auto piece = codePage_.ToAnsi(text.substr(i, length));
    out += piece ? *piece : "?";
    i += length - 1;
  }
  return out;
}

std::string FileRegistry::AnsiData(const RegValue& value) const {
  if (!IsStringType(value.type)) return value.data;
  return AnsiText(FromLittleEndian(value.data));
}

// Copies `bytes` into the caller's buffer as advapi32 does: the size needed always comes back, and a buffer
// too small gets nothing and ERROR_MORE_DATA.
static int32_t GiveData(const std::string& bytes, uint8_t* data, uint32_t* dataSize) {
  if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (dataSize == nullptr) return ERROR_SUCCESS;
  const uint32_t needed = static_cast<uint32_t>(bytes.size());
  const uint32_t room = *dataSize;
  *dataSize = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (room < needed) return ERROR_MORE_DATA;
  std::memcpy(data, bytes.data(), needed);
  return ERROR_SUCCESS;
}

int32_t FileRegistry::RegQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                                      uint32_t* dataSize) {
  auto open = Find(key);
  if (!open) return ERROR_INVALID_HANDLE;
  const RegValue* value = open->node->Value(codePage_.FromAnsi(valueName));
  if (value == nullptr) return ERROR_REG_FILE_NOT_FOUND;
  if (type) *type = value->type;
  return GiveData(AnsiData(*value), data, dataSize);
}

int32_t FileRegistry::RegEnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                                   uint8_t* data, uint32_t* dataSize) {
  auto open = Find(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (name == nullptr || nameLength == nullptr) return ERROR_INVALID_PARAMETER;
  const auto& values = open->node->values();
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& value = values[index];
  const std::string ansiName = AnsiText(value.name);
  if (ansiName.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  if (type) *type = value.type;
  const int32_t result = GiveData(AnsiData(value), data, dataSize);
  if (result != ERROR_SUCCESS) return result;
  std::memcpy(name, ansiName.c_str(), ansiName.size() + 1);
  *nameLength = static_cast<uint32_t>(ansiName.size());
  return ERROR_SUCCESS;
}

int32_t FileRegistry::RegCloseKey(RegKey key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  return open_.Remove(static_cast<Handle>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace kadroo::posix
