#include "com/Registrar.h"

#include <iterator>
#include <string_view>

#include "Handles.h"
#include "com/Registration.h"

namespace kadroo::windows {
namespace {

using registration::Entry;

// The table is ASCII apart from the server's path, which is substituted after widening.
std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii)); }

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

const wchar_t* ThisPlatform() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }
const wchar_t* OtherPlatform() { return sizeof(void*) == 8 ? L"win32" : L"win64"; }

class Placeholders {
 public:
  Placeholders(const std::wstring& modulePath, const wchar_t* platform) : module_(modulePath), platform_(platform) {
    const size_t slash = modulePath.find_last_of(L"\\/");
    // With its trailing backslash, as the installer writes a folder, so that both register the same value.
    moduleDir_ = slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1);
  }

  std::wstring Expand(const char* text) const {
    std::wstring result = Widen(text);
    ReplaceAll(result, Widen(KADROOA_MODULE), module_);
    ReplaceAll(result, Widen(KADROOA_MODULE_DIR), moduleDir_);
    ReplaceAll(result, Widen(KADROOA_TYPELIB_PLATFORM), platform_);
    return result;
  }

 private:
  std::wstring module_;
  std::wstring moduleDir_;
  std::wstring platform_;
};

HRESULT Write(const Entry& entry, const Placeholders& placeholders) {
  unique_hkey key;
  LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, placeholders.Expand(entry.key).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  if (entry.name == nullptr) return S_OK;
  const std::wstring name = Widen(entry.name);
  const std::wstring value = placeholders.Expand(entry.value);
  status = ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(status);
}

bool IsShared(const Entry& entry) {
  const std::string_view key = entry.key;
  for (const std::string_view prefix : registration::kSharedKeyPrefixes) {
    if (key.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

bool IsPlatformEntry(const Entry& entry) {
  return std::string_view(entry.key).find(KADROOA_TYPELIB_PLATFORM) != std::string_view::npos;
}

// Whether the other build's platform entry is registered.
bool OtherBuildRegistered(const std::wstring& modulePath) {
  const Placeholders other(modulePath, OtherPlatform());
  for (const Entry& entry : registration::kEntries) {
    if (!IsPlatformEntry(entry)) continue;
    unique_hkey opened;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, other.Expand(entry.key).c_str(), 0, KEY_QUERY_VALUE, opened.put()) ==
        ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

bool IsGone(LONG status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

HRESULT Remove(const Entry& entry, const Placeholders& placeholders) {
  const std::wstring path = placeholders.Expand(entry.key);
  {
    unique_hkey key;
    LONG status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE, key.put());
    if (IsGone(status)) return S_OK;
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    if (entry.name != nullptr) {
      status = ::RegDeleteValueW(key.get(), Widen(entry.name).c_str());
      if (status != ERROR_SUCCESS && !IsGone(status)) return HRESULT_FROM_WIN32(status);
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    status = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    if (subkeys != 0 || values != 0) return S_OK;
  }
  const LONG status = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
  return status == ERROR_SUCCESS || IsGone(status) ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace

HRESULT RegisterServer(const std::wstring& modulePath) {
  const Placeholders placeholders(modulePath, ThisPlatform());
  for (const Entry& entry : registration::kEntries) {
    const HRESULT hr = Write(entry, placeholders);
    if (FAILED(hr)) {
      UnregisterServer(modulePath);
      return hr;
    }
  }
  return S_OK;
}

HRESULT UnregisterServer(const std::wstring& modulePath) {
  const Placeholders placeholders(modulePath, ThisPlatform());
  const bool otherBuild = OtherBuildRegistered(modulePath);
  HRESULT result = S_OK;
  for (auto entry = std::rbegin(registration::kEntries); entry != std::rend(registration::kEntries); ++entry) {
    if (otherBuild && IsShared(*entry) && !IsPlatformEntry(*entry)) continue;
    const HRESULT hr = Remove(*entry, placeholders);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

}  // namespace kadroo::windows
