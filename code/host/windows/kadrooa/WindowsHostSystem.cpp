// kadrooa.exe: the policy from the registry, the browser's streams on the standard handles in binary mode, the
// programs started out of the browser's job.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/jsonrpc/HostSystem.h"
#include "host/windows/Registration.h"
#include "host/windows/platform/RegistryPolicy.h"
#include "host/windows/platform/WindowsPlatform.h"

#include <windows.h>

namespace kadroo::windows {
namespace {

using nlohmann::json;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(size, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

// A string value under HKEY_LOCAL_MACHINE in the 64-bit view (`root` HKEY_CLASSES_ROOT for a class); empty
// when there is none.
std::wstring RegistryText(const std::string& key, const wchar_t* value, HKEY root = HKEY_LOCAL_MACHINE) {
  DWORD size = 0;
  const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_SUBKEY_WOW6464KEY;
  if (::RegGetValueW(root, Wide(key).c_str(), value, flags, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (::RegGetValueW(root, Wide(key).c_str(), value, flags, nullptr, text.data(), &size) != ERROR_SUCCESS) return {};
  text.resize(::wcslen(text.c_str()));
  return text;
}

// The version in a program's file properties, or null.
json FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return nullptr;
  std::string data(size, '\0');
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
    return nullptr;
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS));
}

json ReadJson(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) return nullptr;
  std::stringstream text;
  text << file.rdbuf();
  json value = json::parse(text.str(), nullptr, false);
  return value.is_discarded() ? json() : value;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

json Installation() {
  json problems = json::array();
  std::wstring self(MAX_PATH, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  const std::wstring control = RegistryText(std::string("CLSID\\") + registration::kClsid + "\\InprocServer32",
                                            nullptr, HKEY_CLASSES_ROOT);
  json versions = {{"kadrooa.exe file", FileVersion(self)},
                   {"KadroOA.ocx", control.empty() ? json() : FileVersion(control)}};
  if (control.empty()) problems.push_back("the ActiveX control KadroOA.ocx is not registered");

  struct Browser {
    const char* name;
    const char* hosts;   // under HKLM\SOFTWARE
    const char* policy;  // under HKLM\SOFTWARE\Policies
  };
  const Browser browsers[] = {{"Google Chrome", "Google\\Chrome", "Google\\Chrome"},
                              {"Microsoft Edge", "Microsoft\\Edge", "Microsoft\\Edge"},
                              {"Chromium", "Chromium", "Chromium"},
                              {"Firefox", "Mozilla", "Mozilla\\Firefox"}};
  json found = json::array();
  for (const auto& browser : browsers) {
    const bool firefox = std::string(browser.name) == "Firefox";
    const std::string key = std::string("SOFTWARE\\") + browser.hosts + "\\NativeMessagingHosts\\org.kadrooa.host";
    const std::wstring path = RegistryText(key, nullptr);
    const json manifest = path.empty() ? json() : ReadJson(path);
    json entry = {{"browser", browser.name}, {"manifest", path.empty() ? "HKLM\\" + key : Utf8(path)},
                  {"found", manifest.is_object()}};
    std::string id;
    if (manifest.is_object()) {
      std::wstring host = Wide(manifest.value("path", ""));
      if (host.size() < 2 || (host[1] != L':' && host[0] != L'\\')) {
        host = path.substr(0, path.find_last_of(L"\\/") + 1) + host;  // relative to the manifest, as Windows allows
      }
      entry["host"] = Utf8(host);
      entry["hostFound"] = FileExists(host);
      entry["allows"] = manifest.value(firefox ? "allowed_extensions" : "allowed_origins", json::array());
      if (!entry["hostFound"].get<bool>()) {
        problems.push_back(std::string(browser.name) + ": the host manifest names " + Utf8(host) +
                           ", which is missing");
      }
      if (!entry["allows"].empty() && entry["allows"][0].is_string()) {
        id = entry["allows"][0].get<std::string>();
        if (!firefox && id.rfind("chrome-extension://", 0) == 0) id = id.substr(19, id.size() - 20);
      }
    } else {
      problems.push_back(std::string(browser.name) + ": no host manifest " + entry["manifest"].get<std::string>());
    }
    // The extension's install policy is the administrator's choice here (the installer's EXTENSIONPOLICY=1, or
    // Group Policy): shown, not required.
    const std::string settings = std::string("SOFTWARE\\Policies\\") + browser.policy + "\\ExtensionSettings\\" + id;
    json policy = json();
    if (!id.empty()) {
      const std::wstring mode = RegistryText(settings, L"installation_mode");
      const std::wstring url = RegistryText(settings, firefox ? L"install_url" : L"update_url");
      if (!mode.empty()) {
        policy = {{"installation_mode", Utf8(mode)}, {firefox ? "install_url" : "update_url", Utf8(url)}};
      }
    }
    entry["extensionPolicy"] = {{"where", "HKLM\\" + settings}, {"entry", policy}};
    found.push_back(entry);
  }
  return {{"versions", versions}, {"browsers", found}, {"problems", problems}};
}

size_t ReadFrom(HANDLE input, char* buffer, size_t size) {
  DWORD got = 0;
  const DWORD asked = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
  return ::ReadFile(input, buffer, asked, &got, nullptr) ? got : 0;
}

// The input read by a thread of its own, which sees its end whatever the main thread is doing; the main thread
// takes what it read. (Peeking at the pipe would read nothing, but Wine cannot peek at its pipes.) It lives as
// long as the process, since its thread may still be reading when kadrooa ends.
struct InputReader {
  InputReader(HANDLE handle, std::function<void()> ended) : input(handle), atEnd(std::move(ended)) {
    ::InitializeCriticalSection(&lock);
    ::InitializeConditionVariable(&arrived);
  }

  size_t Take(char* buffer, size_t size) {
    ::EnterCriticalSection(&lock);
    while (pending.empty() && !ended) ::SleepConditionVariableCS(&arrived, &lock, INFINITE);
    const size_t n = pending.size() < size ? pending.size() : size;
    pending.copy(buffer, n);
    pending.erase(0, n);
    ::LeaveCriticalSection(&lock);
    return n;
  }

  static DWORD WINAPI ReadAll(void* self) {
    auto* reader = static_cast<InputReader*>(self);
    char buffer[65536];
    for (;;) {
      const size_t got = ReadFrom(reader->input, buffer, sizeof buffer);
      ::EnterCriticalSection(&reader->lock);
      reader->pending.append(buffer, got);
      reader->ended = got == 0;
      ::WakeAllConditionVariable(&reader->arrived);
      ::LeaveCriticalSection(&reader->lock);
      if (got == 0) {
        reader->atEnd();
        return 0;
      }
    }
  }

  HANDLE input;
  std::function<void()> atEnd;
  CRITICAL_SECTION lock;
  CONDITION_VARIABLE arrived;
  std::string pending;  // read and not yet taken, under `lock`
  bool ended = false;
};

class WindowsHostSystem final : public jsonrpc::HostSystem {
 public:
  WindowsHostSystem() {
    // Frames and the line protocol alike: no CR added before a LF, no byte 26 taken for the end.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
  }

  Platform& platform() override { return host_.platform(); }
  PathResolver& paths() override { return paths_; }

  PolicyLoad LoadPolicy() override { return LoadRegistryPolicy(); }
  json DescribeInstallation() override { return Installation(); }

  void ObserveTransfers(TransferObserver* observer) override { host_.SetTransferObserver(observer); }

  bool TakeBrowserStreams() override {
    host_.SetBreakAwayFromJob(true);
    input_ = ::GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, ::GetStdHandle(STD_OUTPUT_HANDLE), self, &output_, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
      return false;
    }
    // Whatever else writes to standard output, through the handle or the C runtime, lands on standard error.
    std::fflush(stdout);
    const int error = _fileno(stderr);
    if (error < 0 || _dup2(error, _fileno(stdout)) != 0) {
      const int null = _open("NUL", _O_WRONLY);
      if (null < 0 || _dup2(null, _fileno(stdout)) != 0) return false;
      _close(null);
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
    return true;
  }

  size_t ReadInput(char* buffer, size_t size) override {
    return reader_ ? reader_->Take(buffer, size) : ReadFrom(input_, buffer, size);
  }

  bool WriteOutput(std::string_view bytes) override {
    for (size_t done = 0; done < bytes.size();) {
      DWORD written = 0;
      if (!::WriteFile(output_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
          written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }

  void WatchInputEnd(std::function<void()> ended) override {
    auto* reader = new InputReader(input_, std::move(ended));
    if (const HANDLE thread = ::CreateThread(nullptr, 0, &InputReader::ReadAll, reader, 0, nullptr)) {
      ::CloseHandle(thread);
      reader_ = reader;
    } else {
      delete reader;
    }
  }

 private:
  WindowsPlatform host_;
  WindowsPaths paths_;
  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  InputReader* reader_ = nullptr;
};

}  // namespace
}  // namespace kadroo::windows

std::unique_ptr<kadroo::jsonrpc::HostSystem> kadroo::jsonrpc::MakeHostSystem() {
  return std::make_unique<windows::WindowsHostSystem>();
}
