// platform_driver: walks the control (the plain KadroOcx object, no COM) over the Windows platform layer under
// Wine, against a real FTP server, and prints one "ok NAME" or "FAIL NAME: detail" line per check, in UTF-8.
// The runner next to it sets up the server and the prefix, checks the server's files and drives the GUI.
//
//   platform_driver cycle PORT USER PASS PASSIVE WORKDIR   the edit cycle with Chinese remote and local names
//   platform_driver refusals PORT USER PASS WORKDIR        1113 and 123 refused before sending; failed downloads
//   platform_driver desktop WORKDIR                         registry (64-bit root keys) and program starts
//   platform_driver retry-box PORT USER PASS WORKDIR        the retry notice, owned by a window of ours
//   platform_driver unsaved-box PORT USER PASS              the unsaved-edit warning, owned by a window of ours
//   platform_driver read-box                                prints title, text and owner of the KadroOA box
//   platform_driver record OUTFILE ARGS...                  writes its command line to OUTFILE (as started)
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "../Report.h"
#include "control/KadroOcx.h"
#include "control/RuntimeError.h"
#include "host/windows/platform/WindowsPlatform.h"

#include <windows.h>

namespace {

using kadroo::Text;
using kadroo::TextView;

using kadroo::test::failures;

std::string Utf8(TextView text) {
  std::string out;
  for (char16_t c : text) {
    if (c == u'\r') out += "\\r";
    else if (c == u'\n') out += "\\n";
    else out += kadroo::ToUtf8Lossy(TextView(&c, 1));
  }
  return out;
}

void Check(const char* name, bool ok, TextView detail = u"") { kadroo::test::Check(name, ok, Utf8(detail)); }

void Info(const char* key, TextView value) {
  std::printf("%s=%s\n", key, Utf8(value).c_str());
  std::fflush(stdout);
}

// Checks a method's result; the message is read after the call has run.
void CheckResult(const char* name, int32_t result, int32_t expected, kadroo::KadroOcx& ocx) {
  Check(name, result == expected, u"result " + kadroo::Decimal(result) + u", message " + ocx.getErrorMsg());
}

Text Arg(const char* ascii) { return kadroo::FromAscii(ascii); }

const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool EndsWith(TextView text, TextView tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The file's bytes, or "<missing>".
std::string ReadAll(const Text& path) {
  HANDLE file = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  CloseHandle(file);
  return content;
}

// Writes `content` and moves the last-write time on, as an editor saving the file would.
void WriteAll(const Text& path, const std::string& content, bool later) {
  HANDLE file = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  if (later) {
    FILETIME time;
    GetFileTime(file, nullptr, nullptr, &time);
    ULARGE_INTEGER ticks{{time.dwLowDateTime, time.dwHighDateTime}};
    ticks.QuadPart += 20'000'000;
    time = {ticks.LowPart, ticks.HighPart};
    SetFileTime(file, nullptr, nullptr, &time);
  }
  CloseHandle(file);
}

bool Exists(const Text& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

Text Parm(const Text& port, const Text& user, const Text& pass) {
  return u"uid=" + user + u";path=127.0.0.1:" + port + u";pass=" + pass;
}

// The names the runner gives the server's files (in code page 936 on the server's disk).
constexpr char16_t kDocument[] = u"公文/报告.doc";
constexpr char16_t kTemplate[] = u"模板/模板.dot";
constexpr char16_t kMissing[] = u"公文/缺失.doc";
constexpr char16_t kUnmappable[] = u"公文/\u0E01.doc";  // Thai: not in code page 936, '?' on the server

int Cycle(char** argv) {
  const Text port = Arg(argv[2]), user = Arg(argv[3]), pass = Arg(argv[4]), work = Arg(argv[6]);
  const int32_t passive = std::atoi(argv[5]);
  kadroo::windows::WindowsPlatform host;
  kadroo::KadroOcx ocx(host.platform());

  ocx.setparm(Parm(port, user, pass), u";", passive);
  CheckResult("getFile fetches the template and the document", ocx.getFile(kDocument, kTemplate), 1, ocx);
  const Text local = ocx.getLocalFile(), moban = ocx.getMoBanFile();
  Info("local", local);
  Info("moban", moban);
  Check("document in a kad*.tmp temporary file", local.find(u"\\kad") != Text::npos && EndsWith(local, u".tmp"),
        local);
  Check("template in an oam*.tmp temporary file", moban.find(u"\\oam") != Text::npos && EndsWith(moban, u".tmp"),
        moban);
  Check("document arrived whole", ReadAll(local) == "document v1\n", local);
  Check("template arrived whole", ReadAll(moban) == "template v1\n", moban);

  WriteAll(local, "document v2, edited\n", true);
  CheckResult("saveFile puts the edit back", ocx.saveFile(), 1, ocx);
  Check("saveFile deleted the local document and template", !Exists(local) && !Exists(moban), local);

  CreateDirectoryW(W(work + u"\\下载"), nullptr);
  const Text copy = work + u"\\下载\\报告副本.doc";
  ocx.setparm(Parm(port, user, pass), u";", passive);
  CheckResult("GetFileToFile into a Chinese local path", ocx.GetFileToFile(kDocument, copy), 1, ocx);
  Check("the Chinese local file holds the saved edit", ReadAll(copy) == "document v2, edited\n", copy);
  WriteAll(copy, "document v3, saved as\n", true);
  ocx.setparm(Parm(port, user, pass), u";", passive);
  CheckResult("PutFile from a Chinese local path to a Chinese remote name", ocx.PutFile(copy, u"公文/另存.doc", 0), 1, ocx);
  Check("PutFile with bDeleteLocalFile 0 keeps the local file", Exists(copy), copy);
  return 0;
}

// Runs `call` and checks that it failed with `code` as the last error, named at the end of the message.
template <typename Call>
void CheckRefused(const char* name, kadroo::KadroOcx& ocx, int32_t code, Call call) {
  const int32_t result = call();
  const Text message = ocx.getErrorMsg();
  Check(name, result == -1 && EndsWith(message, u"错误号：" + kadroo::Decimal(code)),
        u"result " + kadroo::Decimal(result) + u", message " + message);
}

int Refusals(char** argv) {
  const Text port = Arg(argv[2]), user = Arg(argv[3]), pass = Arg(argv[4]), work = Arg(argv[5]);
  kadroo::windows::WindowsPlatform host;
  kadroo::KadroOcx ocx(host.platform());
  const Text parm = Parm(port, user, pass);

  const Text trap = work + u"\\trap.doc";
  ocx.setparm(parm, u";", 1);
  CheckRefused("remote name outside code page 936: 1113", ocx, 1113,
               [&] { return ocx.GetFileToFile(kUnmappable, trap); });
  Check("nothing fetched for it (the server's ?.doc stayed there)", !Exists(trap), trap);
  CheckRefused("local name outside code page 936: 1113", ocx, 1113,
               [&] { return ocx.GetFileToFile(kDocument, work + u"\\\u0E01.doc"); });
  const Text source = work + u"\\上传.doc";
  WriteAll(source, "upload me\n", false);
  CheckRefused("upload to a name outside code page 936: 1113", ocx, 1113,
               [&] { return ocx.PutFile(source, kUnmappable, 0); });
  ocx.setparm(u"uid=用户\u0E01;path=127.0.0.1:" + port + u";pass=" + pass, u";", 1);
  CheckRefused("user name outside code page 936: 1113", ocx, 1113, [&] { return ocx.GetFileToFile(kDocument, trap); });

  ocx.setparm(parm, u";", 1);
  CheckRefused("CR LF in a remote path: 123", ocx, 123, [&] {
    return ocx.GetFileToFile(u"公文/报告.doc\r\nDELE 公文/报告.doc", trap);
  });
  CheckRefused("LF in an upload's remote path: 123", ocx, 123,
               [&] { return ocx.PutFile(source, u"x\nDELE 公文/报告.doc", 0); });
  ocx.setparm(u"uid=" + user + u";path=127.0.0.1:" + port + u";pass=" + pass + u"\r\nDELE 公文/报告.doc", u";", 1);
  CheckRefused("CR LF in the password: 123", ocx, 123, [&] { return ocx.GetFileToFile(kDocument, trap); });
  ocx.setparm(u"uid=" + user + u"\nDELE 公文/报告.doc;path=127.0.0.1:" + port + u";pass=" + pass, u";", 1);
  CheckRefused("LF in the user name: 123", ocx, 123, [&] { return ocx.GetFileToFile(kDocument, trap); });

  // WinINet deletes the local file when a download fails; the layer must not let it.
  const Text precious = work + u"\\保留.doc";
  WriteAll(precious, "precious\n", false);
  ocx.setparm(parm, u";", 1);
  // Wine's FtpFindFirstFileA leaves 0 for a missing path; the layer leaves 18, whose text says what happened.
  CheckRefused("a missing remote file fails with 18 from the find that diagnoses it", ocx, 18,
               [&] { return ocx.GetFileToFile(kMissing, precious); });
  Check("the existing local file is as it was", ReadAll(precious) == "precious\n", precious);
  CheckResult("a remote directory fails", ocx.GetFileToFile(u"公文", precious), -1, ocx);
  Check("the existing local file is still as it was", ReadAll(precious) == "precious\n", precious);
  SetFileAttributesW(W(precious), FILE_ATTRIBUTE_READONLY);
  CheckResult("a read-only local target is refused", ocx.GetFileToFile(kDocument, precious), -1, ocx);
  Check("the read-only file is as it was", ReadAll(precious) == "precious\n", precious);
  SetFileAttributesW(W(precious), FILE_ATTRIBUTE_NORMAL);
  CheckResult("a good download replaces the file", ocx.GetFileToFile(kDocument, precious), 1, ocx);
  Check("with the server's content", ReadAll(precious) == "document v1\n", precious);
  return 0;
}

int Desktop(char** argv) {
  const Text work = Arg(argv[2]);
  kadroo::windows::WindowsPlatform host;
  kadroo::KadroOcx ocx(host.platform());

  // Wine enumerates values by name; Windows in the order they were written. Either is the registry's order.
  const Text listing = ocx.GetAllRegValue(u"HKEY_CURRENT_USER\\Software\\KadroTest");
  Check("GetAllRegValue lists string, expandable, multi-string values under HKEY_CURRENT_USER",
        listing == u"Expand,%TEMP%\\x;Multi,first;目录,C:\\程序" || listing == u"目录,C:\\程序;Expand,%TEMP%\\x;Multi,first",
        listing);
  const Text missing = ocx.GetAllRegValue(u"hkey_local_machine\\Software\\KadroMissing");
  Check("GetAllRegValue of a missing key",
        missing == u"-1" && ocx.getErrorMsg() == u"打开注册表出错：head=HKEY_LOCAL_MACHINE；sub=Software\\KadroMissing",
        missing + u" " + ocx.getErrorMsg());

  // The program: this very driver, in its recording mode.
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  Text program(reinterpret_cast<const char16_t*>(self));
  const Text record = work + u"\\started.txt";
  CheckResult("OpenExefile starts the program", ocx.OpenExefile(program, u"record " + record + u" 参数 two"), 1, ocx);
  std::string recorded;
  for (int i = 0; i < 100 && (recorded = ReadAll(record)) == "<missing>"; ++i) Sleep(50);
  const Text expected = program + u" record " + record + u" 参数 two";
  Check("the program received its command line, unquoted, through code page 936",
        kadroo::FromUtf8Lossy(recorded) == expected, kadroo::FromUtf8Lossy(recorded));
  const int32_t absent = ocx.OpenExefile(work + u"\\没有.exe", u"");
  Check("OpenExefile of a missing file",
        absent == -1 && ocx.getErrorMsg() == u"文件不存在：" + work + u"\\没有.exe", ocx.getErrorMsg());
  int32_t raised = 0;
  try {
    ocx.OpenExefile(work, u"x");
  } catch (const kadroo::RuntimeError& error) {
    raised = error.number();
  }
  Check("OpenExefile of a directory raises 70", raised == 70, kadroo::Decimal(raised));
  return 0;
}

int Record(int argc, char** argv) {
  // The command line as the process received it, in code page 936, kept as UTF-8.
  const wchar_t* line = GetCommandLineW();
  Text text(reinterpret_cast<const char16_t*>(line));
  const Text out = Arg(argv[2]);
  (void)argc;
  const Text temp = out + u".part";
  WriteAll(temp, kadroo::ToUtf8Lossy(text), false);
  MoveFileW(W(temp), W(out));
  return 0;
}

// A window of ours that owns the message box, as a page's container window would.
HWND MakeOwner() {
  return CreateWindowExW(0, L"STATIC", L"KadroOA 测试页", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400, 300,
                         nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

int RetryBox(char** argv) {
  kadroo::windows::WindowsPlatform host;
  host.SetOwnerWindow(MakeOwner());
  kadroo::KadroOcx ocx(host.platform());
  ocx.setparm(Parm(Arg(argv[2]), Arg(argv[3]), Arg(argv[4])), u";", 1);
  // An empty remote file onto a file of the clerk's: the notice, one retry, the empty-file failure, the file kept.
  const Text precious = Arg(argv[5]) + u"\\保留.doc";
  WriteAll(precious, "precious\n", false);
  const int32_t result = ocx.GetFileToFile(u"空.doc", precious);
  Check("GetFileToFile of an empty file completes after the notice with -1",
        result == -1 && ocx.getErrorMsg() == u"取文件失败，取到的文件长度为0：" + precious, ocx.getErrorMsg());
  Check("the existing local file is as it was after the empty download", ReadAll(precious) == "precious\n",
        precious);
  return 0;
}

int UnsavedBox(char** argv) {
  kadroo::windows::WindowsPlatform host;
  host.SetOwnerWindow(MakeOwner());
  kadroo::KadroOcx ocx(host.platform());
  ocx.setparm(Parm(Arg(argv[2]), Arg(argv[3]), Arg(argv[4])), u";", 1);
  CheckResult("getFile before the unsaved save", ocx.getFile(kDocument, u""), 1, ocx);
  CheckResult("saveFile of an unchanged document completes after the warning", ocx.saveFile(), 1, ocx);
  return 0;
}

// Finds the dialog that MessageBoxW creates by its class and the start of its title; the whole title is read
// back and checked by the runner.
BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  if (std::wcscmp(name, L"#32770") != 0 || std::wcsncmp(title, L"KadroOA", 7) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

int ReadBox() {
  HWND box = nullptr;
  for (int i = 0; i < 200 && !box; ++i) {
    EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (!box) Sleep(50);
  }
  if (!box) {
    std::printf("box=none\n");
    return 1;
  }
  wchar_t text[1024] = {};
  // A message box shows its prompt in the static control 0xFFFF.
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  wchar_t title[256] = {};
  GetWindowTextW(box, title, 256);
  wchar_t owner[256] = {};
  if (HWND parent = GetWindow(box, GW_OWNER)) GetWindowTextW(parent, owner, 256);
  Info("title", reinterpret_cast<const char16_t*>(title));
  Info("text", reinterpret_cast<const char16_t*>(text));
  Info("owner", reinterpret_cast<const char16_t*>(owner));
  return 0;
}

// A copy of this program named ftp.exe, planted in the working directory, leaves a mark beside itself if the
// quit step ever starts it.
bool RanAsPlantedClient() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  const Text path(reinterpret_cast<const char16_t*>(self), length);
  if (!EndsWith(kadroo::ToLower(path), u"\\ftp.exe")) return false;
  WriteAll(path.substr(0, path.size() - 7) + u"planted-ftp-ran.txt", "ran\n", false);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (RanAsPlantedClient()) return 0;
  const std::string command = argc > 1 ? argv[1] : "";
  struct Command {
    const char* name;
    int arguments;
  };
  static constexpr Command kCommands[] = {{"cycle", 7},     {"refusals", 6},    {"desktop", 3}, {"retry-box", 6},
                                          {"unsaved-box", 5}, {"read-box", 2}, {"record", 3}};
  bool known = false;
  for (const auto& c : kCommands) known = known || (command == c.name && argc >= c.arguments);
  if (!known) {
    std::fprintf(stderr, "usage: platform_driver cycle|refusals|desktop|retry-box|unsaved-box|read-box ...\n");
    return 2;
  }
  if (command == "record") return Record(argc, argv);
  if (command == "read-box") return ReadBox();
  try {
    if (command == "cycle") Cycle(argv);
    if (command == "refusals") Refusals(argv);
    if (command == "desktop") Desktop(argv);
    if (command == "retry-box") RetryBox(argv);
    if (command == "unsaved-box") UnsavedBox(argv);
  } catch (const kadroo::RuntimeError& error) {
    Check("no run-time error escapes", false, kadroo::Decimal(error.number()) + u" " + error.description());
  }
  return failures == 0 ? 0 : 1;
}
