// The Windows command-line rules, from the documented examples of CommandLineToArgvW and CreateProcess.
#include <gtest/gtest.h>

#include <set>

#include "host/posix/process/CommandLine.h"

namespace kadroo::posix {
namespace {

struct SplitCase {
  const char16_t* commandLine;
  std::vector<Text> argv;
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << ToUtf8Lossy(c.commandLine); }

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, SplitsAsWindowsDoes) { EXPECT_EQ(SplitCommandLine(GetParam().commandLine), GetParam().argv); }

INSTANTIATE_TEST_SUITE_P(
    Documented, SplitTest,
    ::testing::Values(
        SplitCase{u"test.exe \"a b c\" d e", {u"test.exe", u"a b c", u"d", u"e"}},
        SplitCase{u"test.exe \"ab\\\"c\" \"\\\\\" d", {u"test.exe", u"ab\"c", u"\\", u"d"}},
        SplitCase{u"test.exe a\\\\\\b d\"e f\"g h", {u"test.exe", u"a\\\\\\b", u"de fg", u"h"}},
        SplitCase{u"test.exe a\\\\\\\"b c d", {u"test.exe", u"a\\\"b", u"c", u"d"}},
        SplitCase{u"test.exe a\\\\\\\\\"b c\" d e", {u"test.exe", u"a\\\\b c", u"d", u"e"}},
        // Inside quotes, three quotes in a row (the opening one counted) give one literal quote.
        SplitCase{u"test.exe a\"b\"\" c d", {u"test.exe", u"ab\"", u"c", u"d"}},
        SplitCase{u"test.exe \"\"\"a\"\"\"", {u"test.exe", u"\"a\""}},
        SplitCase{u"test.exe \"\" x", {u"test.exe", u"", u"x"}},
        SplitCase{u"test.exe\ta\t\tb  ", {u"test.exe", u"a", u"b"}},
        SplitCase{u"test.exe ", {u"test.exe"}},
        SplitCase{u"test.exe", {u"test.exe"}},
        SplitCase{u"test.exe \\\"", {u"test.exe", u"\""}},
        SplitCase{u"test.exe \"unterminated arg", {u"test.exe", u"unterminated arg"}},
        // The program name: backslashes are literal, a quoted name ends at the next quote.
        SplitCase{u"\"C:\\Program Files\\a\\\" b", {u"C:\\Program Files\\a\\", u"b"}},
        SplitCase{u"\"a b\"c d", {u"a b", u"c", u"d"}},
        SplitCase{u"C:\\Program Files\\x.exe a", {u"C:\\Program", u"Files\\x.exe", u"a"}},
        SplitCase{u"a\"b c", {u"a\"b", u"c"}}));

TEST(ResolveTest, UnquotedProgramIsTheShortestPrefixThatIsAFile) {
  std::set<Text> files{u"/opt/my app/bin/prog"};
  auto isFile = [&](TextView path) { return files.count(Text(path)) > 0; };
  ProgramCall call = ResolveCommandLine(u"/opt/my app/bin/prog x \"y z\"", isFile);
  EXPECT_EQ(call.program, u"/opt/my app/bin/prog");
  EXPECT_EQ(call.arguments, (std::vector<Text>{u"x", u"y z"}));

  files.insert(u"/opt/my");  // CreateProcess's known hazard: the shorter name wins
  call = ResolveCommandLine(u"/opt/my app/bin/prog x", isFile);
  EXPECT_EQ(call.program, u"/opt/my");
  EXPECT_EQ(call.arguments, (std::vector<Text>{u"app/bin/prog", u"x"}));
}

TEST(ResolveTest, NoFileFoundLeavesTheFirstWord) {
  ProgramCall call = ResolveCommandLine(u"/nowhere/a b", [](TextView) { return false; });
  EXPECT_EQ(call.program, u"/nowhere/a");
  EXPECT_EQ(call.arguments, std::vector<Text>{u"b"});
}

TEST(ResolveTest, QuotedProgramIsNotSearched) {
  int asked = 0;
  ProgramCall call = ResolveCommandLine(u"\"/opt/my app/prog\" \"a b\" c", [&](TextView) {
    ++asked;
    return true;
  });
  EXPECT_EQ(call.program, u"/opt/my app/prog");
  EXPECT_EQ(call.arguments, (std::vector<Text>{u"a b", u"c"}));
  EXPECT_EQ(asked, 0);
}

TEST(ResolveTest, ParameterTextIsNotSearchedOnceTheProgramIsFound) {
  std::vector<Text> asked;
  ProgramCall call = ResolveCommandLine(u"prog a b", [&](TextView path) {
    asked.emplace_back(path);
    return path == u"prog";
  });
  EXPECT_EQ(asked, std::vector<Text>{u"prog"});
  EXPECT_EQ(call.arguments, (std::vector<Text>{u"a", u"b"}));
}

}  // namespace
}  // namespace kadroo::posix
