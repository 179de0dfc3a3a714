// OpenExefile and OpenExefileByReg through the control, starting the real record_args program.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "DesktopTestSupport.h"

#ifndef RECORD_ARGS_PATH
#error "RECORD_ARGS_PATH must name the record_args program"
#endif

namespace kadroo::testing {
namespace {

namespace fs = std::filesystem;

struct Record {
  bool stdinIsNull = false;
  bool stdoutIsNull = false;
  std::vector<std::string> argv;
};

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

class LaunchTest : public DesktopTest {
 protected:
  LaunchTest() { ::setenv("RECORD_ARGS_OUT", recordPath.c_str(), 1); }
  ~LaunchTest() override { ::unsetenv("RECORD_ARGS_OUT"); }

  // Copies record_args to `path` (created with its directories) and returns the path.
  std::string InstallProgram(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(RECORD_ARGS_PATH, path, fs::copy_options::overwrite_existing);
    return path;
  }

  // Waits for the started program's record; fails the test when none comes within a generous deadline.
  Record WaitForRecord() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(recordPath)) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the program never wrote " << recordPath;
        return {};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::ifstream in(recordPath);
    Record record;
    std::string line;
    while (std::getline(in, line)) {
      if (line == "stdin=null") record.stdinIsNull = true;
      if (line == "stdout=null") record.stdoutIsNull = true;
      if (line.rfind("arg=", 0) == 0) record.argv.push_back(FromHex(line.substr(4)));
    }
    fs::remove(recordPath);
    return record;
  }

  std::vector<std::string> Arguments(const Record& record) {
    return record.argv.empty() ? record.argv : std::vector<std::string>(record.argv.begin() + 1, record.argv.end());
  }

  std::string recordPath = temp / "record.txt";
  std::string program = InstallProgram(temp / "bin/record_args");
};

TEST_F(LaunchTest, ParametersArriveAsWindowsSplitsThem) {
  LeaveMessage();
  const Text parm = u"\"a b c\" d \"ab\\\"c\" \"\\\\\" a\\\\\\b d\"e f\"g \"\" 名字";
  ASSERT_EQ(control->OpenExefile(FromUtf8Lossy(program), parm), 1);
  const Record record = WaitForRecord();
  ASSERT_FALSE(record.argv.empty());
  EXPECT_EQ(record.argv[0], program);
  EXPECT_EQ(Arguments(record),
            (std::vector<std::string>{"a b c", "d", "ab\"c", "\\", "a\\\\\\b", "de fg", "", "名字"}));
  EXPECT_TRUE(record.stdinIsNull);
  EXPECT_TRUE(record.stdoutIsNull);
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：") << "success leaves the message";
}

TEST_F(LaunchTest, AProgramNamedWithoutADirectoryIsFoundOnPathOnlyNeverInTheWorkingDirectory) {
  // As the command-line FTP client is started before each transfer. Someone who can write the working
  // directory plants an "ftp" there; PATH even names the working directory, as "." and as an empty entry.
  const std::string ftp = InstallProgram(temp / "pathbin/ftp");
  InstallProgram(temp / "work/ftp");
  InstallProgram(temp / "work/no-such-program-kadroo");
  const fs::path oldCwd = fs::current_path();
  fs::current_path(temp / "work");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (".::" + std::string(temp / "pathbin") + ":" + oldPath).c_str(), 1);
  processes.StartProcess(u"", u"ftp -w:65535 -s:/tmp/quit.txt", SW_SHOWMINIMIZED);
  const Record record = WaitForRecord();
  ASSERT_FALSE(record.argv.empty());
  EXPECT_EQ(record.argv[0], ftp);
  EXPECT_EQ(Arguments(record), (std::vector<std::string>{"-w:65535", "-s:/tmp/quit.txt"}));
  try {
    processes.StartProcess(u"", u"no-such-program-kadroo -x", SW_SHOWMINIMIZED);
    ADD_FAILURE() << "a program found only in the working directory must raise";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number(), 53);
  }
  ::setenv("PATH", oldPath.c_str(), 1);
  fs::current_path(oldCwd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(recordPath)) << "the planted program ran";
}

TEST_F(LaunchTest, EmptyParameterStartsTheProgramWithNoArguments) {
  ASSERT_EQ(control->OpenExefile(FromUtf8Lossy(program), u""), 1);
  const Record record = WaitForRecord();
  EXPECT_EQ(record.argv, std::vector<std::string>{program});
}

TEST_F(LaunchTest, ProgramPathWithSpacesStartsTheCheckedProgramNotAPlantedPrefix) {
  const std::string spaced = InstallProgram(temp / "my programs/sub dir/record args");
  // Another program where the Windows splitting rule would look first; it records too, so a wrong start shows.
  InstallProgram(temp / "my");
  ASSERT_EQ(control->OpenExefile(FromUtf8Lossy(spaced), u"one two"), 1);
  const Record record = WaitForRecord();
  ASSERT_FALSE(record.argv.empty());
  EXPECT_EQ(record.argv[0], spaced);
  EXPECT_EQ(Arguments(record), (std::vector<std::string>{"one", "two"}));
}

TEST_F(LaunchTest, BackslashesInTheProgramPathAreSeparators) {
  Text windowsStyle = FromUtf8Lossy(program);
  for (auto& c : windowsStyle) {
    if (c == u'/') c = u'\\';
  }
  ASSERT_EQ(control->OpenExefile(windowsStyle, u"x"), 1);
  const Record record = WaitForRecord();
  EXPECT_EQ(record.argv, (std::vector<std::string>{program, "x"}));
}

TEST_F(LaunchTest, ShellMetacharactersAreNeverInterpreted) {
  const std::string made = temp / "made";
  const Text parm = FromUtf8Lossy("$(touch " + made + "1) ; touch " + made + "2 | `touch " + made + "3` && >" +
                                  made + "4 $HOME *");
  ASSERT_EQ(control->OpenExefile(FromUtf8Lossy(program), parm), 1);
  const Record record = WaitForRecord();
  EXPECT_EQ(Arguments(record),
            (std::vector<std::string>{"$(touch", made + "1)", ";", "touch", made + "2", "|", "`touch", made + "3`",
                                      "&&", ">" + made + "4", "$HOME", "*"}));
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(fs::exists(made + std::to_string(i))) << made << i;
}

TEST_F(LaunchTest, MissingPathIsReportedAndNothingStarts) {
  const std::string missing = temp / "no such program";
  EXPECT_EQ(control->OpenExefile(FromUtf8Lossy(missing), u"a"), -1);
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：" + FromUtf8Lossy(missing));
  EXPECT_EQ(control->OpenExefile(u"", u"a"), -1);
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：");
}

TEST_F(LaunchTest, ProgramsThatCannotStartRaise) {
  LeaveMessage();
  const std::string text = temp / "notes.txt";
  WriteBytes(text, "just text\n");
  const std::string script = temp / "noshebang";
  WriteBytes(script, "touch " + (temp / "ran").string() + "\n");
  fs::permissions(script, fs::perms::owner_all);

  EXPECT_EQ(RuntimeErrorOf([&] { control->OpenExefile(FromUtf8Lossy(temp.path().string()), u"x"); }), 70)
      << "a directory";
  EXPECT_EQ(RuntimeErrorOf([&] { control->OpenExefile(FromUtf8Lossy(text), u""); }), 70) << "not executable";
  EXPECT_EQ(RuntimeErrorOf([&] { control->OpenExefile(FromUtf8Lossy(script), u""); }), 5) << "not a program";
  EXPECT_FALSE(fs::exists(temp / "ran")) << "no shell ran the file";
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：");
}

TEST_F(LaunchTest, ByRegistryValueEndingInBackslashKeepsTheDoubledSeparator) {
  const std::string dir = fs::path(program).parent_path().string();
  WriteReg5("apps.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro]\r\n\"Dir\"=\"" + dir + "\\\\\"\r\n\"Plain\"=\"" + dir +
                            "\"\r\n@=\"" + dir + "\"\r\n");
  ASSERT_EQ(control->OpenExefileByReg(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro", u"Dir", u"p q", u"record_args"), 1);
  Record record = WaitForRecord();
  EXPECT_EQ(record.argv, (std::vector<std::string>{dir + "//record_args", "p", "q"}));

  ASSERT_EQ(control->OpenExefileByReg(u"hkey_local_machine\\software\\kadro", u"Plain", u"", u"record_args"), 1);
  record = WaitForRecord();
  EXPECT_EQ(record.argv, (std::vector<std::string>{dir + "/record_args"}));

  ASSERT_EQ(control->OpenExefileByReg(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro", u"", u"d", u"record_args"), 1)
      << "an empty value name reads the default value";
  record = WaitForRecord();
  EXPECT_EQ(record.argv, (std::vector<std::string>{dir + "/record_args", "d"}));
}

TEST_F(LaunchTest, ByRegistryMissingProgramIsReportedWithTheComposedPath) {
  const std::string dir = fs::path(program).parent_path().string();
  WriteReg5("apps.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro]\r\n\"Dir\"=\"" + dir + "\"\r\n");
  EXPECT_EQ(control->OpenExefileByReg(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro", u"Dir", u"", u"absent"), -1);
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：" + FromUtf8Lossy(dir) + u"\\absent");
}

// Processes, counted: for calls that must start nothing.
TEST_F(LaunchTest, ByRegistryValueThatCannotBeReadStartsNothing) {
  WriteReg5("apps.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro]\r\n\"Dir\"=\"/usr/bin\"\r\n");
  FakeProcesses counted;
  Platform counting{fake.lastError, fake.files, fake.prompt, codePage, fake.ftp, *registry, counted};
  KadroOcx observed(counting);
  EXPECT_EQ(observed.OpenExefileByReg(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro", u"Missing", u"", u"true"), -1);
  EXPECT_EQ(observed.getErrorMsg(), u"RegQueryValueEx出错：valuename=Missing");
  EXPECT_EQ(observed.OpenExefileByReg(u"HKLM\\SOFTWARE\\Kadro", u"Dir", u"", u"true"), -1);
  EXPECT_EQ(observed.getErrorMsg(), u"注册表key值头不合法：HKLM");
  EXPECT_TRUE(counted.started.empty());

  counted.existing.insert("/usr/bin\\true");
  EXPECT_EQ(observed.OpenExefileByReg(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro", u"Dir", u"", u"true"), 1);
  EXPECT_EQ(counted.started, std::vector<std::string>{"/usr/bin\\true "}) << "path, one space, empty parameter";
  EXPECT_EQ(counted.showStates, std::vector<int32_t>{SW_SHOWMINIMIZED});
}

TEST_F(LaunchTest, CommandLineQuotesAPathWithBlanksAndRefusesOneTooLongForThePlatform) {
  FakeProcesses counted;
  Platform counting{fake.lastError, fake.files, fake.prompt, codePage, fake.ftp, *registry, counted};
  KadroOcx observed(counting);
  const std::vector<std::string> paths{"C:\\bin\\ok.exe", "C:\\my prog\\ok.bat", "/my\tprog/ok",
                                       "\"C:\\my prog\\ok.exe\""};
  for (const auto& path : paths) {
    counted.existing.insert(path);
    ASSERT_EQ(observed.OpenExefile(FromUtf8Lossy(path), u"a \"b c\""), 1) << path;
  }
  EXPECT_EQ(counted.applications, paths) << "the checked path is the program";
  EXPECT_EQ(counted.started, (std::vector<std::string>{"C:\\bin\\ok.exe a \"b c\"",
                                                       "\"C:\\my prog\\ok.bat\" a \"b c\"",
                                                       "\"/my\tprog/ok\" a \"b c\"",
                                                       "\"C:\\my prog\\ok.exe\" a \"b c\""}));

  // 32,767 characters with the terminating NUL is the most a command line may hold; the quotes count.
  counted.started.clear();
  const Text plain = u"C:\\bin\\ok.exe";
  const Text spaced = u"C:\\my prog\\ok.bat";
  EXPECT_EQ(observed.OpenExefile(plain, Text(32766 - plain.size() - 1, u'x')), 1);
  EXPECT_EQ(RuntimeErrorOf([&] { observed.OpenExefile(plain, Text(32767 - plain.size() - 1, u'x')); }), 5);
  EXPECT_EQ(RuntimeErrorOf([&] { observed.OpenExefile(spaced, Text(32766 - spaced.size() - 1, u'x')); }), 5);
  EXPECT_EQ(RuntimeErrorOf([&] { observed.OpenExefile(plain, Text(70000, u'x')); }), 5);
  ASSERT_EQ(counted.started.size(), 1u) << "nothing else started";
  EXPECT_EQ(counted.started[0].size(), 32766u);
}

// A child of this process that has ended and was not waited for (a zombie), or 0 when there is none. Only our
// own children are looked at, and the zombie is left as it is.
pid_t EndedChild() {
  siginfo_t info{};
  if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return 0;
  return info.si_pid;
}

TEST_F(LaunchTest, NoZombieIsLeftBehind) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(control->OpenExefile(FromUtf8Lossy(program), u"run"), 1);
    WaitForRecord();
  }
  EXPECT_EQ(EndedChild(), 0) << "a started program was left a zombie";
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child of ours remains to be waited for";
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(LaunchTest, PathFileExistsCountsDirectories) {
  EXPECT_EQ(processes.PathFileExists(FromUtf8Lossy(program)), 1);
  EXPECT_EQ(processes.PathFileExists(FromUtf8Lossy(temp.path().string())), 1);
  Text backslashed = FromUtf8Lossy(program);
  for (auto& c : backslashed) {
    if (c == u'/') c = u'\\';
  }
  EXPECT_EQ(processes.PathFileExists(backslashed), 1);
  EXPECT_EQ(processes.PathFileExists(FromUtf8Lossy((temp / "absent").string())), 0);
  EXPECT_EQ(processes.PathFileExists(u""), 0);
}

}  // namespace
}  // namespace kadroo::testing
