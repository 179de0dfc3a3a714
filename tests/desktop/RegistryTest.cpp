// GetAllRegValue and the registry read by OpenExefileByReg, through the control, over .reg files.
#include <string>

#include "DesktopTestSupport.h"

namespace kadroo::testing {
namespace {

using posix::FileRegistry;

class RegistryTest : public DesktopTest {};

std::string ManyValues(int count) {
  std::string body = "[HKEY_CURRENT_USER\\Many]\r\n";
  for (int i = 0; i < count; ++i) body += "\"v" + std::to_string(i) + "\"=\"" + std::to_string(i) + "\"\r\n";
  return body;
}

TEST_F(RegistryTest, ListsNamedValuesInFileOrderWithoutTheDefaultValue) {
  WriteReg5("app.reg",
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro\\Editor]\r\n"
            "@=\"the default\"\r\n"
            "\"A\"=\"1\"\r\n"
            "\"B\"=\"x y\"\r\n"
            "\"Digit\"=dword:00000031\r\n"
            "\"Empty\"=\"\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro\\Editor"), u"A,1;B,x y;Digit,1;Empty,");
  EXPECT_EQ(control->getErrorMsg(), u"");
}

TEST_F(RegistryTest, KeyWithOnlyTheDefaultValueListsAsEmptyText) {
  WriteReg5("app.reg", "[HKEY_CURRENT_USER\\Software\\Only]\r\n@=\"d\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\None]\r\n");
  LeaveMessage();
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Software\\Only"), u"");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Software\\None"), u"");
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：") << "success leaves an older message";
}

TEST_F(RegistryTest, MultiStringListsItsFirstStringAndExpandableStringStaysUnexpanded) {
  // hex(7) "one","two" and hex(2) "%HOME%\bin", UTF-16LE as version 5 files hold them.
  WriteReg5("types.reg",
            "[HKEY_CURRENT_USER\\Types]\r\n"
            "\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\r\n"
            "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,5c,00,62,00,69,00,6e,00,00,00\r\n");
  ASSERT_NE(std::getenv("HOME"), nullptr);
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Types"), u"Multi,one;Expand,%HOME%\\bin");
}

TEST_F(RegistryTest, CommaAndSemicolonInNamesAndValuesAreCopiedUnchanged) {
  WriteReg5("odd.reg", "[HKEY_CURRENT_USER\\Odd]\r\n\"a,b\"=\"c;d\"\r\n\"e;f\"=\"g,h\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Odd"), u"a,b,c;d;e;f,g,h");
}

TEST_F(RegistryTest, EscapesInNamesAndStrings) {
  WriteReg5("esc.reg",
            "[HKEY_CURRENT_USER\\Esc]\r\n"
            "\"quote\\\"d\"=\"C:\\\\Program Files\\\\Kadro\\\\\"\r\n"
            "\"say\"=\"\\\"hi\\\"\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Esc"), u"quote\"d,C:\\Program Files\\Kadro\\;say,\"hi\"");
}

TEST_F(RegistryTest, RootNameInAnyLetterCaseAndKeyNamesWithoutRegardToCase) {
  WriteReg5("case.reg", "[HKEY_CURRENT_USER\\Software\\Kadro]\r\n\"Path\"=\"/opt/kadro\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"hkey_current_user\\Software\\Kadro"), u"Path,/opt/kadro");
  EXPECT_EQ(control->GetAllRegValue(u"Hkey_Current_User\\SOFTWARE\\kadro"), u"Path,/opt/kadro");

  EXPECT_EQ(control->GetAllRegValue(u"hkey_Local_machine\\Missing\\Key"), u"-1");
  EXPECT_EQ(control->getErrorMsg(), u"打开注册表出错：head=HKEY_LOCAL_MACHINE；sub=Missing\\Key");
}

TEST_F(RegistryTest, AbbreviatedOrUnknownRootNamesAreRejectedByMessage) {
  WriteReg5("app.reg", "[HKEY_LOCAL_MACHINE\\Software]\r\n\"v\"=\"1\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKLM\\Software"), u"-1");
  EXPECT_EQ(control->getErrorMsg(), u"注册表key值头不合法：HKLM");
  EXPECT_EQ(control->GetAllRegValue(u"hkey_performance_data\\Counters"), u"-1");
  EXPECT_EQ(control->getErrorMsg(), u"注册表key值头不合法：HKEY_PERFORMANCE_DATA");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_PERFORMANCE_DATA"), u"-1") << "with or without a backslash";
  EXPECT_EQ(control->getErrorMsg(), u"注册表key值头不合法：HKEY_PERFORMANCE_DATA");
  EXPECT_EQ(control->GetAllRegValue(u"\\Software"), u"-1");
  EXPECT_EQ(control->getErrorMsg(), u"注册表key值头不合法：");
}

TEST_F(RegistryTest, MissingKeyGivesTheOpenMessage) {
  WriteReg5("app.reg", "[HKEY_USERS\\S-1-5-21\\Present]\r\n\"v\"=\"1\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_USERS\\S-1-5-21\\Absent"), u"-1");
  EXPECT_EQ(control->getErrorMsg(), u"打开注册表出错：head=HKEY_USERS；sub=S-1-5-21\\Absent");
  EXPECT_EQ(control->OpenExefileByReg(u"HKEY_USERS\\Nowhere", u"Dir", u"", u"prog"), -1);
  EXPECT_EQ(control->getErrorMsg(), u"打开注册表出错：head=HKEY_USERS；sub=Nowhere");
}

TEST_F(RegistryTest, RootFollowedOnlyByBackslashOpensTheRoot) {
  WriteReg5("root.reg", "[HKEY_CURRENT_CONFIG]\r\n\"Display\"=\"1024x768\"\r\n[HKEY_CURRENT_CONFIG\\Sub]\r\n\"x\"=\"y\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_CONFIG\\"), u"Display,1024x768");
  EXPECT_EQ(control->GetAllRegValue(u"hkey_dyn_data\\"), u"") << "an empty root opens too";
}

TEST_F(RegistryTest, ValueNameOver255BytesEndsTheListing) {
  const std::string name255(255, 'n');
  const std::string name256(256, 'm');
  WriteReg5("long.reg", "[HKEY_CURRENT_USER\\Long]\r\n\"first\"=\"1\"\r\n\"" + name255 + "\"=\"2\"\r\n\"" + name256 +
                            "\"=\"3\"\r\n\"after\"=\"4\"\r\n");
  LeaveMessage();
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Long"), u"first,1;" + Text(255, u'n') + u",2");
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：") << "no message for a listing cut short";
}

TEST_F(RegistryTest, NameLimitCountsCodePageBytes) {
  // 100 Chinese characters: 300 bytes in UTF-8, over the limit; 85 of them, 255 bytes, fit.
  const Text wide100(100, u'名');
  const Text wide85(85, u'名');
  WriteReg5("wide.reg", "[HKEY_CURRENT_USER\\Wide]\r\n\"" + Utf8(wide85) + "\"=\"a\"\r\n\"" + Utf8(wide100) +
                            "\"=\"b\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Wide"), wide85 + u",a");
}

TEST_F(RegistryTest, DataWithoutNulRaisesInvalidProcedureCallAndKeepsTheMessage) {
  WriteReg5("nul.reg",
            "[HKEY_CURRENT_USER\\Dword]\r\n\"ok\"=\"1\"\r\n\"Number\"=dword:01020304\r\n"
            "[HKEY_CURRENT_USER\\Binary]\r\n\"Empty\"=hex:\r\n"
            "[HKEY_CURRENT_USER\\Fine]\r\n\"Zero\"=hex:41,42,00,43\r\n");
  LeaveMessage();
  EXPECT_EQ(RuntimeErrorOf([&] { control->GetAllRegValue(u"HKEY_CURRENT_USER\\Dword"); }), 5);
  EXPECT_EQ(RuntimeErrorOf([&] { control->GetAllRegValue(u"HKEY_CURRENT_USER\\Binary"); }), 5);
  EXPECT_EQ(RuntimeErrorOf([&] { control->OpenExefileByReg(u"HKEY_CURRENT_USER\\Dword", u"Number", u"", u"p"); }),
            5);
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Fine"), u"Zero,AB") << "binary data is cut at its zero";
}

TEST_F(RegistryTest, EmptyKeyAndRootWithoutBackslashRaise) {
  WriteReg5("app.reg", "[HKEY_LOCAL_MACHINE\\Software]\r\n\"v\"=\"1\"\r\n");
  LeaveMessage();
  EXPECT_EQ(RuntimeErrorOf([&] { control->GetAllRegValue(u""); }), 9);
  EXPECT_EQ(RuntimeErrorOf([&] { control->OpenExefileByReg(u"", u"v", u"", u"p"); }), 9);
  EXPECT_EQ(RuntimeErrorOf([&] { control->GetAllRegValue(u"HKEY_LOCAL_MACHINE"); }), 5);
  EXPECT_EQ(RuntimeErrorOf([&] { control->GetAllRegValue(u"hkey_users"); }), 5);
  EXPECT_EQ(control->getErrorMsg(), u"文件不存在：");
}

TEST_F(RegistryTest, RuntimeErrorsCarryTheRuntimeDescription) {
  try {
    control->GetAllRegValue(u"");
    FAIL() << "no run-time error";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.number(), 9);
    EXPECT_EQ(error.description(), u"Subscript out of range");
  }
}


TEST_F(RegistryTest, MoreThan32767ValuesOverflowTheIndex) {
  WriteReg5("many.reg", ManyValues(32768));
  EXPECT_EQ(RuntimeErrorOf([&] { control->GetAllRegValue(u"HKEY_CURRENT_USER\\Many"); }), 6);
}

TEST_F(RegistryTest, Exactly32767ValuesAreListed) {
  WriteReg5("many.reg", ManyValues(32767));
  const Text listing = control->GetAllRegValue(u"HKEY_CURRENT_USER\\Many");
  EXPECT_EQ(std::count(listing.begin(), listing.end(), u';'), 32766);
  EXPECT_EQ(listing.substr(0, 8), u"v0,0;v1,");
  EXPECT_EQ(listing.substr(listing.size() - 12), u"v32766,32766");
}

TEST_F(RegistryTest, Utf16File) {
  WriteReg("utf16.reg", Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                  u"[HKEY_CURRENT_USER\\Software\\金山\\WPS]\r\n"
                                  u"\"安装目录\"=\"/opt/金山 WPS\"\r\n"
                                  u"\"Version\"=dword:0000000a\r\n"));
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Software\\金山\\WPS"), u"安装目录,/opt/金山 WPS;Version,\n");
}

TEST_F(RegistryTest, Utf8FilesWithAndWithoutByteOrderMark) {
  WriteReg("a.reg", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Bom]\n\"名\"=\"值\"\n");
  WriteReg("b.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\NoBom]\n\"名\"=\"值\"\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Bom"), u"名,值");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\NoBom"), u"名,值");
  EXPECT_TRUE(registry->LoadErrors().empty());
}

TEST_F(RegistryTest, ContinuationLinesAndComments) {
  WriteReg5("cont.reg",
            "; exported by hand\r\n"
            "[HKEY_CURRENT_USER\\Cont]\r\n"
            "\"Multi\"=hex(7):66,00,69,00,72,00,73,00,74,00,00,00,\\\r\n"
            "  73,00,65,00,63,00,6f,00,\\\r\n"
            "  ; a comment inside the list\r\n"
            "  6e,00,64,00,00,00,00,00\r\n"
            "   ; an indented comment\r\n"
            "\"Bin\"=hex:68,69,\\\r\n"
            "    00 ; trailing comment\r\n"
            "\"Num\"=dword:00000032 ; two\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Cont"), u"Multi,first;Bin,hi;Num,2");
}

class GbkRegistryTest : public DesktopTest {
 protected:
  GbkRegistryTest() : DesktopTest("GBK") {}
};

TEST_F(GbkRegistryTest, Regedit4FileIsInTheCodePage) {
  // "REGEDIT4" text and hex(2) data in GBK: 金山 is BD F0 C9 BD.
  WriteReg("old.reg",
           "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xBD\xF0\xC9\xBD]\r\n"
           "\"\xC2\xB7\xBE\xB6\"=\"C:\\\\\xBD\xF0\xC9\xBD\"\r\n"
           "\"Expand\"=hex(2):25,54,45,4d,50,25,5c,bd,f0,c9,bd,00\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\金山"), u"路径,C:\\金山;Expand,%TEMP%\\金山");
  EXPECT_TRUE(registry->LoadErrors().empty());
}

TEST_F(GbkRegistryTest, Version5HexStringsReachTheCoreInTheCodePage) {
  // hex(2) "金山\" in UTF-16LE: D1 91 71 5C 5C 00.
  WriteReg("new.reg", Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Dir]\r\n"
                                u"\"Home\"=hex(2):d1,91,71,5c,5c,00,00,00\r\n"
                                u"\"Text\"=\"文档\"\r\n"));
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Dir"), u"Home,金山\\;Text,文档");
  uint32_t size = 0;
  RegKey key = 0;
  ASSERT_EQ(registry->RegOpenKey(HKEY_CURRENT_USER, "Dir", key), ERROR_SUCCESS);
  ASSERT_EQ(registry->RegQueryValueEx(key, "Home", nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u) << "two GBK characters, a backslash and the NUL";
  registry->RegCloseKey(key);
}

TEST_F(RegistryTest, FilesMergeInNameOrderAndDeletionsAreHonoured) {
  WriteReg5("10-base.reg",
            "[HKEY_CURRENT_USER\\Merge]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"c\"=\"3\"\r\n"
            "[HKEY_CURRENT_USER\\Merge\\Gone]\r\n\"x\"=\"y\"\r\n");
  WriteReg5("20-local.reg",
            "[HKEY_CURRENT_USER\\merge]\r\n\"A\"=\"one\"\r\n\"b\"=-\r\n\"d\"=\"4\"\r\n"
            "[-HKEY_CURRENT_USER\\Merge\\Gone]\r\n\"ignored\"=\"after a deleted key\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Merge"), u"a,one;c,3;d,4");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Merge\\Gone"), u"-1");
  EXPECT_TRUE(registry->LoadErrors().empty());
}

TEST_F(RegistryTest, EditedFilesAreReadAgain) {
  WriteReg5("live.reg", "[HKEY_CURRENT_USER\\Live]\r\n\"v\"=\"old\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Live"), u"v,old");
  WriteReg5("live.reg", "[HKEY_CURRENT_USER\\Live]\r\n\"v\"=\"new value\"\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Live"), u"v,new value");
}

TEST_F(RegistryTest, FileThatCannotBeParsedMakesItsKeysUnopenable) {
  WriteReg5("10-good.reg",
            "[HKEY_CURRENT_USER\\Good]\r\n\"v\"=\"1\"\r\n[HKEY_CURRENT_USER\\Shared]\r\n\"s\"=\"good\"\r\n");
  WriteReg5("20-broken.reg",
            "[HKEY_CURRENT_USER\\Broken]\r\n\"v\"=\"1\"\r\n[HKEY_CURRENT_USER\\Shared]\r\n\"s\"=dword:xyz\r\n");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Good"), u"v,1");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Broken"), u"-1");
  EXPECT_EQ(control->getErrorMsg(), u"打开注册表出错：head=HKEY_CURRENT_USER；sub=Broken");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Shared"), u"-1") << "no half-read key";
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Shared\\Below"), u"-1");

  const auto& errors = registry->LoadErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].file, registryDir + "/20-broken.reg");
  EXPECT_EQ(errors[0].line, 6u);
  EXPECT_NE(errors[0].message.find("dword"), std::string::npos) << errors[0].message;
}

struct BrokenFile {
  const char* what;
  std::string bytes;
  size_t line;
};

class BrokenFileTest : public DesktopTest, public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(BrokenFileTest, IsReportedWithItsLineAndHoldsNothing) {
  WriteReg5("00-good.reg", "[HKEY_CURRENT_USER\\Good]\r\n\"v\"=\"1\"\r\n");
  WriteReg("50-broken.reg", GetParam().bytes);
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Good"), u"v,1");
  EXPECT_EQ(control->GetAllRegValue(u"HKEY_CURRENT_USER\\Bad"), u"-1");
  const auto& errors = registry->LoadErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].line, GetParam().line) << posix::Describe(errors[0]);
}

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Bad]\r\n";

// A key line `levels` keys below HKEY_CURRENT_USER\Bad.
std::string DeepKey(size_t levels) {
  std::string line = "[HKEY_CURRENT_USER\\Bad";
  for (size_t i = 1; i < levels; ++i) line += "\\k";
  return line + "]\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFileTest,
    ::testing::Values(BrokenFile{"no header", "[HKEY_CURRENT_USER\\Bad]\r\n\"v\"=\"1\"\r\n", 1},
                      BrokenFile{"wrong version", "Windows Registry Editor Version 6.00\r\n[HKEY_CURRENT_USER\\Bad]\r\n", 1},
                      BrokenFile{"unterminated string", kHead + "\"v\"=\"open\r\n", 4},
                      BrokenFile{"unterminated name", kHead + "\"v=\"1\r\n", 4},
                      BrokenFile{"bad hex byte", kHead + "\"v\"=hex:01,2g\r\n", 4},
                      BrokenFile{"hex byte too long", kHead + "\"v\"=hex:001\r\n", 4},
                      BrokenFile{"dword too long", kHead + "\"v\"=dword:123456789\r\n", 4},
                      BrokenFile{"unknown type", kHead + "\"v\"=qword:1\r\n", 4},
                      BrokenFile{"text after string", kHead + "\"v\"=\"1\" junk\r\n", 4},
                      BrokenFile{"continuation at end", kHead + "\"v\"=hex:01,\\\r\n", 4},
                      BrokenFile{"unknown root", kHead + "[HKLM\\Bad]\r\n", 4},
                      BrokenFile{"no closing bracket", kHead + "[HKEY_CURRENT_USER\\Bad\r\n", 4},
                      BrokenFile{"stray line", kHead + "v=1\r\n", 4},
                      BrokenFile{"value before key", "REGEDIT4\r\n\"v\"=\"1\"\r\n[HKEY_CURRENT_USER\\Bad]\r\n", 2},
                      BrokenFile{"invalid UTF-8", kHead + "\"v\"=\"\xC3\x28\"\r\n", 4},
                      BrokenFile{"big-endian UTF-16", "\xFE\xFF" + kHead, 0},
                      BrokenFile{"key 513 levels deep", kHead + DeepKey(512) + DeepKey(513), 5},
                      BrokenFile{"key 200000 levels deep", kHead + DeepKey(200000), 4}),
    [](const ::testing::TestParamInfo<BrokenFile>& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

// Forwards to a real registry and counts the keys left open.
class OpenKeyCounter final : public Registry {
 public:
  explicit OpenKeyCounter(Registry& inner) : inner_(inner) {}
  int32_t RegOpenKey(RegKey key, const std::string& subKey, RegKey& result) override {
    const int32_t status = inner_.RegOpenKey(key, subKey, result);
    if (status == ERROR_SUCCESS) ++open;
    return status;
  }
  int32_t RegQueryValueEx(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                          uint32_t* size) override {
    return inner_.RegQueryValueEx(key, name, type, data, size);
  }
  int32_t RegEnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
    return inner_.RegEnumValue(key, index, name, nameLength, type, data, size);
  }
  int32_t RegCloseKey(RegKey key) override {
    const int32_t status = inner_.RegCloseKey(key);
    if (status == ERROR_SUCCESS) --open;
    return status;
  }
  int open = 0;

 private:
  Registry& inner_;
};

TEST_F(RegistryTest, EveryOpenedKeyIsClosedAlsoWhenTheCallRaises) {
  WriteReg5("keys.reg",
            "[HKEY_CURRENT_USER\\K]\r\n\"s\"=\"1\"\r\n\"n\"=dword:01020304\r\n" + ManyValues(32768));
  OpenKeyCounter counter(*registry);
  Platform counted{fake.lastError, fake.files, fake.prompt, codePage, fake.ftp, counter, processes};
  KadroOcx observed(counted);
  EXPECT_EQ(RuntimeErrorOf([&] { observed.GetAllRegValue(u"HKEY_CURRENT_USER\\K"); }), 5);
  EXPECT_EQ(RuntimeErrorOf([&] { observed.GetAllRegValue(u"HKEY_CURRENT_USER\\Many"); }), 6);
  EXPECT_EQ(RuntimeErrorOf([&] { observed.OpenExefileByReg(u"HKEY_CURRENT_USER\\K", u"n", u"", u"p"); }), 5);
  EXPECT_EQ(observed.OpenExefileByReg(u"HKEY_CURRENT_USER\\K", u"absent", u"", u"p"), -1);
  EXPECT_EQ(observed.OpenExefileByReg(u"HKEY_CURRENT_USER\\K", u"s", u"", u"p"), -1);
  EXPECT_EQ(observed.getErrorMsg(), u"文件不存在：1\\p");
  EXPECT_EQ(counter.open, 0);
}

// The advapi32 contract that the control relies on, straight on the registry.
class RegistryFunctionsTest : public DesktopTest {
 protected:
  void SetUp() override {
    WriteReg5("f.reg", "[HKEY_LOCAL_MACHINE\\F]\r\n\"Name\"=\"value\"\r\n\"Num\"=dword:00000102\r\n");
    ASSERT_EQ(registry->RegOpenKey(HKEY_LOCAL_MACHINE, "F", key), ERROR_SUCCESS);
  }
  void TearDown() override { EXPECT_EQ(registry->RegCloseKey(key), ERROR_SUCCESS); }
  RegKey key = 0;
};

TEST_F(RegistryFunctionsTest, QueryGivesSizeThenDataAndMoreDataWhenTooSmall) {
  uint32_t type = 0;
  uint32_t size = 0;
  ASSERT_EQ(registry->RegQueryValueEx(key, "name", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);
  uint8_t small[3] = {};
  size = sizeof small;
  EXPECT_EQ(registry->RegQueryValueEx(key, "Name", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  uint8_t buffer[8] = {};
  size = sizeof buffer;
  ASSERT_EQ(registry->RegQueryValueEx(key, "Name", &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string("value", 6));
  ASSERT_EQ(registry->RegQueryValueEx(key, "Num", &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string("\x02\x01\x00\x00", 4));
  EXPECT_EQ(registry->RegQueryValueEx(key, "Missing", &type, nullptr, &size), ERROR_REG_FILE_NOT_FOUND);
  EXPECT_EQ(registry->RegQueryValueEx(key, "", &type, nullptr, &size), ERROR_REG_FILE_NOT_FOUND)
      << "no default value set";
}

TEST_F(RegistryFunctionsTest, EnumerationReportsNameLengthAndEnds) {
  char name[8] = {};
  uint32_t length = 4;
  uint32_t size = 0;
  EXPECT_EQ(registry->RegEnumValue(key, 0, name, &length, nullptr, nullptr, &size), ERROR_MORE_DATA)
      << "\"Name\" needs five characters of room";
  length = 5;
  ASSERT_EQ(registry->RegEnumValue(key, 0, name, &length, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(length, 4u);
  EXPECT_STREQ(name, "Name");
  EXPECT_EQ(size, 6u);
  length = sizeof name;
  uint8_t data[2] = {};
  size = sizeof data;
  EXPECT_EQ(registry->RegEnumValue(key, 1, name, &length, nullptr, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  length = sizeof name;
  EXPECT_EQ(registry->RegEnumValue(key, 2, name, &length, nullptr, nullptr, &size), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryFunctionsTest, HandlesComeFromATable) {
  RegKey same = 0;
  ASSERT_EQ(registry->RegOpenKey(key, "", same), ERROR_SUCCESS);
  EXPECT_NE(same, key);
  EXPECT_EQ(registry->RegCloseKey(same), ERROR_SUCCESS);
  EXPECT_EQ(registry->RegCloseKey(same), posix::ERROR_INVALID_HANDLE) << "closed twice";
  RegKey other = 0;
  EXPECT_EQ(registry->RegOpenKey(same, "", other), posix::ERROR_INVALID_HANDLE);
  EXPECT_EQ(registry->RegOpenKey(0x80000004, "", other), posix::ERROR_INVALID_HANDLE) << "HKEY_PERFORMANCE_DATA";
  EXPECT_EQ(registry->RegOpenKey(HKEY_LOCAL_MACHINE, "F\\\\G", other), posix::ERROR_BAD_PATHNAME);
  EXPECT_EQ(registry->RegOpenKey(HKEY_LOCAL_MACHINE, "F\\Missing", other), ERROR_REG_FILE_NOT_FOUND);
}

// Restores an environment variable when the test ends.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) value_ = value;
  }
  ~SavedVariable() {
    if (value_) {
      ::setenv(name_, value_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> value_;
};

TEST(RegistryDirectoryTest, FollowsTheEnvironment) {
  SavedVariable registry("KADROOA_REGISTRY");
  SavedVariable config("XDG_CONFIG_HOME");
  SavedVariable home("HOME");
  ::setenv("KADROOA_REGISTRY", "/srv/kadro/reg", 1);
  EXPECT_EQ(FileRegistry::DefaultDirectory(), "/srv/kadro/reg");
  ::unsetenv("KADROOA_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/home/u/cfg", 1);
  EXPECT_EQ(FileRegistry::DefaultDirectory(), "/home/u/cfg/kadrooa/registry");
  ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(FileRegistry::DefaultDirectory(), "/home/u/.config/kadrooa/registry");
}

TEST(RegistryDirectoryTest, MissingDirectoryIsAnEmptyRegistry) {
  posix::LocaleCodePage codePage("UTF-8");
  FileRegistry registry(codePage, "/nonexistent/kadrooa/registry");
  EXPECT_TRUE(registry.LoadErrors().empty());
  RegKey key = 0;
  EXPECT_EQ(registry.RegOpenKey(HKEY_CURRENT_USER, "Software", key), ERROR_REG_FILE_NOT_FOUND);
  ASSERT_EQ(registry.RegOpenKey(HKEY_CURRENT_USER, "", key), ERROR_SUCCESS);
  EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

}  // namespace
}  // namespace kadroo::testing
