// The rules that both platform layers share: handle numbering, the text a platform call takes, and the
// registration table's placeholders and shared keys (native here, though only the Windows control registers).
#include <gtest/gtest.h>

#include <string>

#include "control/HandleTable.h"
#include "control/Platform.h"
#include "host/windows/Registration.h"
#include "support/FakePlatform.h"

namespace kadroo {
namespace {

TEST(HandleTableTest, NumbersWrapAroundPastThoseStillInUse) {
  HandleTable<std::string> table(0x100, 4, 0x110);  // 0x100, 0x104, 0x108, 0x10C
  EXPECT_EQ(table.Add("a"), 0x100);
  EXPECT_EQ(table.Add("b"), 0x104);
  EXPECT_EQ(table.Add("c"), 0x108);
  EXPECT_TRUE(table.Remove(0x104));
  EXPECT_EQ(table.Add("d"), 0x10C);
  EXPECT_EQ(table.Add("e"), 0x104);  // after the last number the first again, but 0x100 is still open
  EXPECT_FALSE(table.Remove(0x104 + 1));
  EXPECT_EQ(*table.Find(0x104), "e");
}

TEST(AnsiArgumentTest, RefusesNulAlwaysLineBreaksWhereAskedAndWhatTheCodePageCannotHold) {
  testing::Utf8CodePage codePage;
  std::string out = "untouched";
  EXPECT_EQ(ToAnsiArgument(codePage, Text(u"a\0b", 3), LineBreaks::kAllowed, out), ERROR_INVALID_NAME);
  EXPECT_EQ(ToAnsiArgument(codePage, u"a\r\nDELE x", LineBreaks::kRefused, out), ERROR_INVALID_NAME);
  EXPECT_EQ(ToAnsiArgument(codePage, u"\xD800", LineBreaks::kRefused, out), ERROR_NO_UNICODE_TRANSLATION);
  // A NUL is named before a character the code page cannot hold.
  EXPECT_EQ(ToAnsiArgument(codePage, Text(u"\xD800\0", 2), LineBreaks::kAllowed, out), ERROR_INVALID_NAME);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(ToAnsiArgument(codePage, u"line\r\n文档", LineBreaks::kAllowed, out), 0);
  EXPECT_EQ(out, "line\r\n\xE6\x96\x87\xE6\xA1\xA3");

  LastError lastError{5};
  EXPECT_FALSE(ToAnsiArgument(lastError, codePage, u"\n", LineBreaks::kRefused, out));
  EXPECT_EQ(lastError.code, ERROR_INVALID_NAME);
}

TEST(RegistrationTest, PlaceholdersExpandAndOnlyProgIdsAndTypeLibraryKeysAreShared) {
  using namespace registration;
  const Placeholders<std::string> placeholders{"C:\\KadroOA\\KadroOA.ocx", "C:\\KadroOA\\", "win64"};
  std::string values, platformKey;
  int shared = 0;
  for (const Entry& entry : kEntries) {
    const std::string key = placeholders.Expand(entry.key);
    if (entry.value && entry.value[0] == '$') values += placeholders.Expand(entry.value) + ";";
    if (IsPlatformEntry(entry)) platformKey = key;
    // Each view has a CLSID and an Interface key of its own.
    if (key.starts_with("CLSID\\") || key.starts_with("Interface\\") || IsPlatformEntry(entry)) {
      EXPECT_FALSE(IsShared(entry)) << key;
    }
    shared += IsShared(entry);
  }
  EXPECT_EQ(values, "C:\\KadroOA\\KadroOA.ocx;C:\\KadroOA\\;C:\\KadroOA\\KadroOA.ocx;");  // server, HELPDIR, platform
  EXPECT_EQ(platformKey, "TypeLib\\" KADROOA_LIBID "\\1.0\\0\\win64");
  EXPECT_EQ(shared, 10);  // the five ProgID entries and the type library's but its platform entry
}

}  // namespace
}  // namespace kadroo
