// record_args: a program for the launch tests under Wine. Writes the command line it was started with, as UTF-16LE,
// to a file beside itself named after it with ".args" appended, then exits.
#include <windows.h>

#include <string>

int wmain() {
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path += L".args";
  const std::wstring line = ::GetCommandLineW();
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(file);
  return ok ? 0 : 1;
}
