// record_args: a program for the launch tests under Wine. Writes the command line it was started with, as UTF-16LE,
// to a file beside itself named after it with ".args" appended, and the arguments that its C runtime split off
// that line, each followed by U+001F, to one with ".argv" appended; then exits. Where KADROO_RECORD_DELAY_MS is set
// it waits that long first, as an editor that is still running.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

bool WriteText(const std::wstring& path, const std::wstring& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t delay[16];
  const DWORD length = ::GetEnvironmentVariableW(L"KADROO_RECORD_DELAY_MS", delay, 16);
  if (length > 0 && length < 16) ::Sleep(std::wcstoul(delay, nullptr, 10));
  std::wstring path(MAX_PATH * 4, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  std::wstring arguments;
  for (int i = 1; i < argc; ++i) arguments += std::wstring(argv[i]) + L'\x1f';
  // The command line last: the test waits for it.
  const bool ok = WriteText(path + L".argv", arguments) && WriteText(path + L".args", ::GetCommandLineW());
  return ok ? 0 : 1;
}
