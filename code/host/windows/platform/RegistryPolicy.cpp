// The portable parts before <windows.h>, whose macros would rename their members.
#include "host/windows/platform/RegistryPolicy.h"
#include "host/windows/platform/AnsiCodePage.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "host/windows/Handles.h"

namespace kadroo::windows {
namespace {

TextView View(const std::wstring& text) {
  return TextView(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::optional<std::wstring> FullPath(TextView path) {
  if (path.empty() || path.find(u'\0') != TextView::npos) return std::nullopt;
  const std::wstring given = ToWide(path);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return std::nullopt;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

// The final name of an existing file or folder, links and short names followed; nullopt when it does not exist.
std::optional<std::wstring> FinalName(const std::wstring& path) {
  const unique_file file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return std::nullopt;
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file.get(), name.data(), static_cast<DWORD>(name.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    name.resize(length + 1);
  }
}

std::wstring Lower(std::wstring text) {
  if (!text.empty()) {
    std::wstring lower(text.size(), L'\0');
    if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, text.data(), static_cast<int>(text.size()), lower.data(),
                       static_cast<int>(lower.size())) == static_cast<int>(text.size())) {
      return lower;
    }
  }
  return text;
}

// The comparable form: no "\\?\" prefix, no repeated separator, "\" between names, none at the end but a
// drive's root's, lower case.
std::optional<std::string> Comparable(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    path = L"\\\\" + path.substr(8);
  } else if (path.rfind(L"\\\\?\\", 0) == 0) {
    path = path.substr(4);
  }
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  std::wstring out;
  size_t i = 0;
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {  // a share keeps its two
    out = L"\\\\";
    i = 2;
  }
  for (; i < path.size(); ++i) {
    const wchar_t c = separator(path[i]) ? L'\\' : path[i];
    if (c == L'\\' && !out.empty() && out.back() == L'\\') continue;
    out += c;
  }
  while (out.size() > 3 && out.back() == L'\\') out.pop_back();
  if (out.size() == 3 && out[1] != L':' && out.back() == L'\\') out.pop_back();
  return ToUtf8(View(Lower(out)));
}

// The full path with its existing part resolved to its final name and the rest kept as written.
std::optional<std::string> Resolve(const std::wstring& full) {
  const wchar_t* afterRoot = ::PathSkipRootW(full.c_str());
  const size_t root = afterRoot ? static_cast<size_t>(afterRoot - full.c_str()) : 0;
  std::wstring existing = full, rest;
  for (;;) {
    if (auto final = FinalName(existing)) return Comparable(*final + L"\\" + rest);
    if (existing.size() <= root) return Comparable(full);  // not even the drive or share exists
    const size_t cut = existing.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return Comparable(full);
    rest = existing.substr(cut + 1) + (rest.empty() ? L"" : L"\\" + rest);
    existing.resize(std::max(cut, root));
  }
}

// A registry value's text as UTF-16 code units, without its terminating NULs.
std::wstring ValueText(const std::vector<BYTE>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  return text;
}

}  // namespace

std::optional<std::string> WindowsPaths::ResolvePath(TextView path) {
  const auto full = FullPath(path);
  if (!full) return std::nullopt;
  return Resolve(*full);
}

std::optional<std::string> WindowsPaths::ResolveFolderOf(TextView path) {
  const auto full = FullPath(path);
  if (!full) return std::nullopt;
  const size_t cut = full->find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut + 1 == full->size()) return std::nullopt;  // no program's name
  const wchar_t* afterRoot = ::PathSkipRootW(full->c_str());
  const size_t root = afterRoot ? static_cast<size_t>(afterRoot - full->c_str()) : 0;
  const auto folder = Resolve(full->substr(0, std::max(cut, root)));
  const auto name = ToUtf8(View(Lower(full->substr(cut + 1))));
  if (!folder || !name) return std::nullopt;
  return *folder + (folder->back() == '\\' ? "" : "\\") + *name;
}

bool WindowsPaths::HasOtherNames(TextView path) {
  const auto full = FullPath(path);
  if (!full) return false;
  const HANDLE file = ::CreateFileW(full->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool others = ::GetFileInformationByHandle(file, &information) &&
                      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && information.nNumberOfLinks > 1;
  ::CloseHandle(file);
  return others;
}

std::string WindowsPaths::ProfileFolder() {
  std::wstring profile(MAX_PATH, L'\0');
  DWORD length = ::GetEnvironmentVariableW(L"USERPROFILE", profile.data(), static_cast<DWORD>(profile.size()));
  if (length >= profile.size()) {
    profile.resize(length);
    length = ::GetEnvironmentVariableW(L"USERPROFILE", profile.data(), static_cast<DWORD>(profile.size()));
  }
  if (length == 0 || length >= profile.size()) {
    profile.assign(MAX_PATH, L'\0');
    length = SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile.data()))
                 ? static_cast<DWORD>(std::wcslen(profile.c_str()))
                 : 0;
  }
  profile.resize(length);
  return ToUtf8(View(profile)).value_or("");
}

PolicyLoad LoadRegistryPolicy() {
  HKEY opened = nullptr;
  LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened);
  const std::string where = kPolicyPlace;
  const auto Refused = [&where](const std::string& problem) { return RefusedPolicy(where, where + problem); };
  if (status == ERROR_FILE_NOT_FOUND) return {PolicyLoad::Status::kAbsent, {}, "", where};
  if (status != ERROR_SUCCESS) return Refused(": cannot be opened (error " + std::to_string(status) + ")");
  const unique_hkey key(opened);

  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  do {
    data.resize(size);
    status = ::RegQueryValueExW(key.get(), kPolicyValue, nullptr, &type, data.empty() ? nullptr : data.data(), &size);
  } while (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && size > data.size()));
  if (status == ERROR_FILE_NOT_FOUND) return {PolicyLoad::Status::kAbsent, {}, "", where};
  if (status != ERROR_SUCCESS) return Refused(", Policy: cannot be read (error " + std::to_string(status) + ")");
  data.resize(size);

  std::wstring text = ValueText(data);
  if (type == REG_SZ) {
    text.resize(std::wcslen(text.c_str()));  // up to its terminating NUL, however many follow
  } else if (type == REG_MULTI_SZ) {
    // One string per line, each ended by a NUL, the list by one more.
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    for (wchar_t& c : text) {
      if (c == L'\0') c = L'\n';
    }
  } else {
    return Refused(", Policy: neither REG_SZ nor REG_MULTI_SZ (type " + std::to_string(type) + ")");
  }
  const auto utf8 = ToUtf8(View(text));
  if (!utf8) return Refused(", Policy: not valid UTF-16 text");
  WindowsPaths paths;
  return ParsePolicy(*utf8, WindowsPaths::ProfileFolder(), paths, where);
}

}  // namespace kadroo::windows
