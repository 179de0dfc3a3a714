#include <array>
#include <vector>

#include "control/KadroOcx.h"
#include "desktop/Registry.h"

namespace kadroo {
namespace {

// Closes an opened key on every way out, a run-time error included.
class OpenedKey {
 public:
  explicit OpenedKey(Registry& registry) : registry_(registry) {}
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  ~OpenedKey() { Close(); }
  RegKey& handle() { return key_; }
  void Close() {
    if (open_) registry_.RegCloseKey(key_);
    open_ = false;
  }
  void MarkOpen() { open_ = true; }

 private:
  Registry& registry_;
  RegKey key_ = 0;
  bool open_ = false;
};

// Text of a platform buffer up to its first NUL. A buffer without one is the runtime's "invalid procedure
// call": the cut length comes out negative. NUL is never a trail byte in a multi-byte code page, so cutting
// the bytes first is the same as cutting the converted text.
Text CutAtNul(CodePage& codePage, const std::vector<char>& buffer) {
  for (size_t i = 0; i < buffer.size(); ++i) {
    if (buffer[i] == '\0') return codePage.FromAnsi(std::string_view(buffer.data(), i));
  }
  Raise(ErrorNumber::kInvalidProcedureCall);
}

Text OpenFailure(const Text& sHead, const Text& sSub) { return u"打开注册表出错：head=" + sHead + u"；sub=" + sSub; }

}  // namespace

int32_t KadroOcx::ParseRegKey(TextView sKey, uint32_t& hRoot, Text& sHead, Text& sSub) {
  if (sKey.empty()) Raise(ErrorNumber::kSubscriptOutOfRange);  // splitting "" gives no first piece
  sHead = ToUpper(sKey.substr(0, sKey.find(u'\\')));
  const RootKeyName* root = nullptr;
  for (const auto& candidate : kRootKeyNames) {
    if (sHead == candidate.name) root = &candidate;
  }
  if (root == nullptr) return Fail(u"注册表key值头不合法：" + sHead);
  hRoot = root->key;
  if (sKey.size() == sHead.size()) Raise(ErrorNumber::kInvalidProcedureCall);  // no backslash: length -1
  sSub = Text(sKey.substr(sHead.size() + 1));
  return 1;
}

int32_t KadroOcx::ReadRegValue(TextView sKey, TextView sValueName, Text& sValue) {
  uint32_t hRoot = 0;
  Text sHead;
  Text sSub;
  if (ParseRegKey(sKey, hRoot, sHead, sSub) == -1) return -1;

  Registry& registry = platform_.registry;
  OpenedKey key(registry);
  // A text the code page cannot carry names no key and no value, as a lookup of its replacement would not.
  const auto sub = platform_.codePage.ToAnsi(sSub);
  if (!sub || registry.RegOpenKey(hRoot, *sub, key.handle()) != ERROR_SUCCESS) return Fail(OpenFailure(sHead, sSub));
  key.MarkOpen();

  const auto name = platform_.codePage.ToAnsi(sValueName);
  uint32_t type = 0;
  uint32_t size = 0;
  if (!name || registry.RegQueryValueEx(key.handle(), *name, &type, nullptr, &size) != ERROR_SUCCESS) {
    return Fail(u"RegQueryValueEx出错：valuename=" + Text(sValueName));
  }
  std::vector<char> buffer(size, '\0');
  registry.RegQueryValueEx(key.handle(), *name, &type, reinterpret_cast<uint8_t*>(buffer.data()), &size);
  key.Close();

  sValue = CutAtNul(platform_.codePage, buffer);
  return 1;
}

Text KadroOcx::GetAllRegValue(Text key) {
  uint32_t hRoot = 0;
  Text sHead;
  Text sSub;
  if (ParseRegKey(key, hRoot, sHead, sSub) == -1) return u"-1";

  Registry& registry = platform_.registry;
  OpenedKey opened(registry);
  const auto sub = platform_.codePage.ToAnsi(sSub);
  if (!sub || registry.RegOpenKey(hRoot, *sub, opened.handle()) != ERROR_SUCCESS) {
    sErrorMsg = OpenFailure(sHead, sSub);
    return u"-1";
  }
  opened.MarkOpen();

  Text listing;
  int16_t index = 0;  // the runtime's 16-bit counter: a key past 32767 values overflows it
  for (;;) {
    std::array<char, 257> probe{};
    uint32_t nameLength = 256;
    uint32_t type = 0;
    uint32_t dataSize = 0;
    if (registry.RegEnumValue(opened.handle(), static_cast<uint32_t>(index), probe.data(), &nameLength, &type,
                              nullptr, &dataSize) != ERROR_SUCCESS) {
      break;
    }
    std::vector<char> name(size_t{nameLength} + 1, '\0');
    std::vector<char> data(dataSize, '\0');
    nameLength = static_cast<uint32_t>(name.size());
    registry.RegEnumValue(opened.handle(), static_cast<uint32_t>(index), name.data(), &nameLength, &type,
                          reinterpret_cast<uint8_t*>(data.data()), &dataSize);
    if (nameLength > 0) {
      const Text entryName = CutAtNul(platform_.codePage, name);
      const Text entryData = CutAtNul(platform_.codePage, data);
      if (!listing.empty()) listing += u';';
      listing += entryName + u"," + entryData;
    }
    if (index == INT16_MAX) Raise(ErrorNumber::kOverflow);
    ++index;
  }
  opened.Close();
  return listing;
}

}  // namespace kadroo
