#include "host/windows/com/Registrar.h"

#include <iterator>
#include <string_view>

#include "host/windows/Handles.h"
#include "host/windows/Registration.h"

namespace kadroo::windows {
namespace {

using registration::Entry;

using Placeholders = registration::Placeholders<std::wstring>;
using registration::IsPlatformEntry;
using registration::IsShared;

const wchar_t* ThisPlatform() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }
const wchar_t* OtherPlatform() { return sizeof(void*) == 8 ? L"win32" : L"win64"; }

// With its trailing backslash, as the installer writes a folder, so that both register the same value.
Placeholders For(const std::wstring& modulePath, const wchar_t* platform) {
  const size_t slash = modulePath.find_last_of(L"\\/");
  return {modulePath, slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1), platform};
}

HRESULT Write(const Entry& entry, const Placeholders& placeholders) {
  unique_hkey key;
  LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, placeholders.Expand(entry.key).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  if (entry.name == nullptr) return S_OK;
  const std::wstring name = placeholders.Expand(entry.name);
  const std::wstring value = placeholders.Expand(entry.value);
  status = ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(status);
}

// Whether the other build's platform entry is registered.
bool OtherBuildRegistered(const std::wstring& modulePath) {
  const Placeholders other = For(modulePath, OtherPlatform());
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
      status = ::RegDeleteValueW(key.get(), placeholders.Expand(entry.name).c_str());
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
  const Placeholders placeholders = For(modulePath, ThisPlatform());
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
  const Placeholders placeholders = For(modulePath, ThisPlatform());
  const bool otherBuild = OtherBuildRegistered(modulePath);
  HRESULT result = S_OK;
  for (auto entry = std::rbegin(registration::kEntries); entry != std::rend(registration::kEntries); ++entry) {
    if (otherBuild && IsShared(*entry)) continue;
    const HRESULT hr = Remove(*entry, placeholders);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

}  // namespace kadroo::windows
