// The Linux local files and code page that the control's transfers rely on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <optional>
#include <regex>

#include "control/RuntimeError.h"
#include "host/posix/PosixLocalFiles.h"
#include "support/TempDir.h"

namespace kadroo::posix {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

Text T(const std::string& s) { return FromUtf8Lossy(s); }

class LocalFilesTest : public ::testing::Test {
 protected:
  LastError lastError;
  LocaleCodePage codePage{"UTF-8"};
  PosixLocalFiles files{lastError, codePage};
  TempDir dir{"kadroo-localfiles"};
};

TEST_F(LocalFilesTest, TemporaryNamesAreNewEmptyFilesOfTheWindowsForm) {
  const Text directory = T(dir.path().string() + "/");
  const auto first = files.GetTempFileName(directory, u"kadrooa");
  const auto second = files.GetTempFileName(directory, u"kadrooa");
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  const std::regex form(dir.path().string() + "/kad[0-9A-F]{1,4}\\.tmp");
  for (const Text* path : {&*first, &*second}) {
    const std::string name = ToUtf8Lossy(*path);
    EXPECT_TRUE(std::regex_match(name, form)) << name;
    EXPECT_EQ(fs::file_size(name), 0u);
  }
  EXPECT_FALSE(files.GetTempFileName(T(dir.path().string() + "/missing/"), u"kadrooa").has_value());
  EXPECT_EQ(lastError.code, 2);
}

TEST_F(LocalFilesTest, BackslashesSeparateDirectories) {
  fs::create_directory(dir / "sub");
  testing::WriteWholeFile(dir / "sub" / "a.doc", "12345");
  const Text windowsStyle = T(dir.path().string() + "\\sub\\a.doc");
  FindData record;
  ASSERT_GT(files.FindFirstFile(windowsStyle, record), 0);
  EXPECT_EQ(record.FileSize(), 5u);
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_STREQ(record.cFileName, "a.doc");
  EXPECT_TRUE(files.DeleteFile(windowsStyle));
  EXPECT_FALSE(fs::exists(dir / "sub" / "a.doc"));
}

TEST_F(LocalFilesTest, RecordCarriesTheLastWriteTimeAndDirectories) {
  const fs::path file = dir / "t";
  testing::WriteWholeFile(file, "x");
  struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456700}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  FindData record;
  ASSERT_GT(files.FindFirstFile(T(file.string()), record), 0);
  EXPECT_EQ(record.ftLastWriteTime.Ticks(), (1700000000ull + 11644473600ull) * 10'000'000 + 1234567);
  ASSERT_GT(files.FindFirstFile(T(dir.path().string()), record), 0);
  EXPECT_EQ(record.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(files.DeleteFile(T(dir.path().string()))) << "a directory is not deleted as a file";
  EXPECT_TRUE(fs::exists(dir.path()));
  EXPECT_EQ(files.FindFirstFile(T((dir / "none").string()), record), kInvalidHandle);
  EXPECT_EQ(lastError.code, 2);
  EXPECT_EQ(files.FindFirstFile(Text(u"a\0b", 3), record), kInvalidHandle);
  EXPECT_EQ(lastError.code, 123);
}

TEST_F(LocalFilesTest, QuitScriptIsWrittenOrRaises) {
  const Text path = T((dir / "quit.txt").string());
  files.WriteTextFile(path, u"quit");
  files.WriteTextFile(path, u"quit");
  EXPECT_EQ(testing::ReadWholeFile(dir / "quit.txt"), "quit\n");
  testing::WriteWholeFile(dir / "quit.txt", "open ftp.example.com\nuser anonymous\n");
  files.WriteTextFile(path, u"quit");
  EXPECT_EQ(testing::ReadWholeFile(dir / "quit.txt"), "quit\n") << "a longer old script leaves nothing behind";
  lastError.code = 4242;
  try {
    testing::WriteWholeFile(dir / "file", "x");
    files.WriteTextFile(T((dir / "file" / "sub" / "quit.txt").string()), u"quit");
    ADD_FAILURE() << "writing below a file must raise";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number(), 76);
  }
  EXPECT_EQ(lastError.code, 4242) << "not a platform call: the last error stays";
}

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

int RaisedNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& error) {
    return error.number();
  }
  return 0;
}

TEST_F(LocalFilesTest, TheQuitScriptCannotBeRedirectedBlockedOrPlantedByOthers) {
  const fs::path run = dir / "run";
  fs::create_directory(run);
  ScopedEnv runtime("XDG_RUNTIME_DIR", run.string());
  const Text path = files.QuitScriptPath();
  const fs::path quit = run / "kadrooa" / "quit.txt";
  EXPECT_EQ(path, T(quit.string()));
  // First use makes the directory, for the user alone.
  files.WriteTextFile(path, u"quit");
  EXPECT_EQ(testing::ReadWholeFile(quit), "quit\n");
  EXPECT_EQ(fs::status(quit.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  // A link planted under the name: the file it points to keeps its content.
  testing::WriteWholeFile(dir / "victim", "precious");
  fs::remove(quit);
  fs::create_symlink(dir / "victim", quit);
  files.WriteTextFile(path, u"quit");
  EXPECT_EQ(testing::ReadWholeFile(dir / "victim"), "precious");
  EXPECT_FALSE(fs::is_symlink(quit));
  EXPECT_EQ(testing::ReadWholeFile(quit), "quit\n");
  // A FIFO without a reader would block every transfer: it is replaced, at once.
  fs::remove(quit);
  ASSERT_EQ(::mkfifo(quit.c_str(), 0600), 0);
  files.WriteTextFile(path, u"quit");
  EXPECT_TRUE(fs::is_regular_file(quit));
  EXPECT_EQ(testing::ReadWholeFile(quit), "quit\n");

  // A directory that others may write, or that someone else made, is not used at all.
  const fs::path shared = dir / "shared";
  fs::create_directories(shared / "kadrooa");
  fs::permissions(shared / "kadrooa", fs::perms::all);
  ScopedEnv sharedRuntime("XDG_RUNTIME_DIR", shared.string());
  EXPECT_EQ(RaisedNumber([&] { files.WriteTextFile(files.QuitScriptPath(), u"quit"); }), 70);
  EXPECT_FALSE(fs::exists(shared / "kadrooa" / "quit.txt"));
  if (::geteuid() == 0) {
    fs::permissions(shared / "kadrooa", fs::perms::owner_all);
    ASSERT_EQ(::chown((shared / "kadrooa").c_str(), 65534, 65534), 0);
    EXPECT_EQ(RaisedNumber([&] { files.WriteTextFile(files.QuitScriptPath(), u"quit"); }), 70);
    EXPECT_FALSE(fs::exists(shared / "kadrooa" / "quit.txt"));
  }
}

TEST_F(LocalFilesTest, WithoutARuntimeDirectoryTheQuitScriptGoesBelowHome) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  fs::create_directory(dir / "home");
  ScopedEnv home("HOME", (dir / "home").string());
  const Text path = files.QuitScriptPath();
  EXPECT_EQ(path, T((dir / "home/.cache/kadrooa/quit.txt").string()));
  files.WriteTextFile(path, u"quit");
  EXPECT_EQ(testing::ReadWholeFile(dir / "home/.cache/kadrooa/quit.txt"), "quit\n");
}

TEST(LocaleCodePage, GbkRoundTripAndUndecodableBytes) {
  LocaleCodePage gbk("GBK");
  EXPECT_EQ(gbk.ToAnsi(u"金山"), std::optional<std::string>("\xBD\xF0\xC9\xBD"));
  EXPECT_EQ(gbk.ToAnsi(u"ü€😀"), std::nullopt) << "a character GBK cannot hold is refused, not replaced";
  EXPECT_EQ(gbk.FromAnsi("\xBD\xF0\xFF\xC9\xBD"), u"金\uFFFD山");
  LocaleCodePage utf8("ANSI_X3.4-1968");
  EXPECT_EQ(utf8.charset(), "UTF-8") << "a locale without a character set means UTF-8";
  EXPECT_EQ(utf8.FromAnsi("\xE9\x87\x91"), u"金");
}

}  // namespace
}  // namespace kadroo::posix
