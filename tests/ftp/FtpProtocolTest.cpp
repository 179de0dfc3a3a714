#include <gtest/gtest.h>

#include "host/ftp/FtpProtocol.h"

namespace kadroo::ftp {
namespace {

// Feeds lines until a reply comes out; the reply and how many lines it took.
std::pair<std::optional<Reply>, size_t> FeedAll(const std::vector<std::string>& lines) {
  ReplyParser parser;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto reply = parser.Feed(lines[i])) return {reply, i + 1};
  }
  return {std::nullopt, lines.size()};
}

struct ReplyCase {
  std::vector<std::string> lines;
  int code;         // 0: no reply yet
  size_t consumed;  // lines that made the reply
};

TEST(ReplyParser, FollowsTheLastLineRule) {
  const ReplyCase cases[] = {
      {{"220 ready"}, 220, 1},
      {{"230-Welcome", "230 Logged in"}, 230, 2},
      {{"211-Features:", " EPSV", " SIZE", "211 End"}, 211, 4},
      // A line of digits inside the text ends nothing unless it repeats the code with a space.
      {{"220-Hello", "123 not the end", "220-still not", "220 done"}, 220, 4},
      {{"250-a", "250"}, 250, 2},  // a bare code ends it too
      {{"250-a", "250-b"}, 0, 2},
      {{"150 (10 bytes)"}, 150, 1},
      {{"hello"}, -1, 1},
      {{"22 short"}, -1, 1},
      {{"2200 four digits"}, -1, 1},
      {{"331"}, 331, 1},  // a bare code is a complete reply
  };
  for (const auto& c : cases) {
    auto [reply, consumed] = FeedAll(c.lines);
    SCOPED_TRACE(c.lines.front());
    if (c.code == 0) {
      EXPECT_FALSE(reply);
    } else {
      ASSERT_TRUE(reply);
      EXPECT_EQ(reply->code, c.code);
    }
    EXPECT_EQ(consumed, c.consumed);
  }
}

TEST(ReplyParser, KeepsEveryLineAndStartsAfreshAfterAReply) {
  ReplyParser parser;
  EXPECT_FALSE(parser.Feed("230-one"));
  EXPECT_TRUE(parser.InProgress());
  auto reply = parser.Feed("230 two");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->text, "230-one\n230 two");
  EXPECT_FALSE(parser.InProgress());
  auto next = parser.Feed("200 ok");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->code, 200);
  EXPECT_EQ(next->text, "200 ok");
}

TEST(PassiveReplies, Pasv) {
  const std::pair<std::string, std::optional<PassiveAddress>> cases[] = {
      {"227 Entering Passive Mode (127,0,0,1,195,80).", PassiveAddress{"127.0.0.1", 50000}},
      {"227 Entering Passive Mode 10,1,2,3,0,21", PassiveAddress{"10.1.2.3", 21}},
      {"227 =192,168,0,9,255,255", PassiveAddress{"192.168.0.9", 65535}},
      {"227 (256,0,0,1,1,1)", std::nullopt},
      {"227 (1,2,3,4,5)", std::nullopt},
      {"227 no numbers", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    auto got = ParsePasvReply(std::string_view(text).substr(3));
    ASSERT_EQ(got.has_value(), expected.has_value());
    if (got) {
      EXPECT_EQ(got->host, expected->host);
      EXPECT_EQ(got->port, expected->port);
    }
  }
}

TEST(PassiveReplies, Epsv) {
  const std::pair<std::string, std::optional<uint16_t>> cases[] = {
      {"229 Entering Extended Passive Mode (|||50001|)", 50001},
      {"229 Entering Extended Passive Mode (!!!21!)", 21},
      {"229 (|||65535|)", 65535},
      {"229 (|||65536|)", std::nullopt},
      {"229 (|||0|)", std::nullopt},
      {"229 (||1|5|)", std::nullopt},
      {"229 (|||5)", std::nullopt},
      {"229 Entering Extended Passive Mode", std::nullopt},
  };
  for (const auto& [text, port] : cases) {
    SCOPED_TRACE(text);
    auto got = ParseEpsvReply(text);
    ASSERT_EQ(got.has_value(), port.has_value());
    if (got) {
      EXPECT_EQ(got->port, *port);
      EXPECT_EQ(got->host, "");
    }
  }
}

TEST(ActiveArguments, EprtAndPort) {
  EXPECT_EQ(FormatEprtArgument(1, "127.0.0.1", 5282), "|1|127.0.0.1|5282|");
  EXPECT_EQ(FormatEprtArgument(2, "::1", 65535), "|2|::1|65535|");
  EXPECT_EQ(FormatPortArgument("127.0.0.1", 5282), "127,0,0,1,20,162");
  EXPECT_EQ(FormatPortArgument("10.20.30.40", 255), "10,20,30,40,0,255");
  EXPECT_EQ(FormatPortArgument("::1", 21), std::nullopt);
  EXPECT_EQ(FormatPortArgument("1.2.3", 21), std::nullopt);
  EXPECT_EQ(FormatPortArgument("1.2.3.256", 21), std::nullopt);
}

TEST(Feat, FindsFeaturesOnTheirOwnLines) {
  const std::string feat = "211-Features:\n EPRT\n EPSV\n MDTM\n MLST type*;size*;modify*;\n SIZE\n211 End";
  EXPECT_TRUE(FeatHas(feat, "MLST"));
  EXPECT_TRUE(FeatHas(feat, "mlst"));
  EXPECT_TRUE(FeatHas(feat, "SIZE"));
  EXPECT_FALSE(FeatHas(feat, "UTF8"));
  EXPECT_FALSE(FeatHas(feat, "Features:"));
  EXPECT_FALSE(FeatHas("211-Features:\n EPSV\n211 End", "MLST"));
  EXPECT_FALSE(FeatHas("500 FEAT not understood", "FEAT"));
}

TEST(Replies, SizeTransferSizeAndPwd) {
  EXPECT_EQ(ParseSizeReply("213 1234"), 1234u);
  EXPECT_EQ(ParseSizeReply("213 68719476736"), 68719476736u);  // 64 GiB: beyond 32 bits
  EXPECT_EQ(ParseSizeReply("213 12x"), std::nullopt);
  EXPECT_EQ(ParseSizeReply("550 Could not get file size."), std::nullopt);
  EXPECT_EQ(ParseTransferSize("150 Opening BINARY mode data connection for a.txt (1234 bytes)."), 1234u);
  EXPECT_EQ(ParseTransferSize("150 Opening BINARY mode data connection for (x) (5000000000 bytes)."), 5000000000u);
  EXPECT_EQ(ParseTransferSize("150 Here comes the directory listing."), std::nullopt);
  EXPECT_EQ(ParsePwdReply("257 \"/\" is the current directory"), "/");
  EXPECT_EQ(ParsePwdReply("257 \"/a \"\"b\"\"\" created"), "/a \"b\"");
  EXPECT_EQ(ParsePwdReply("257 no quotes"), std::nullopt);
  EXPECT_EQ(ParsePwdReply("257 \"unterminated"), std::nullopt);
}

TEST(Times, TimeValsAndCivilDates) {
  // 1970-01-01 is 11644473600 s after 1601-01-01.
  EXPECT_EQ(FileTimeFromCivil(1970, 1, 1, 0, 0, 0).Ticks(), 116444736000000000u);
  EXPECT_EQ(FileTimeFromCivil(1601, 1, 1, 0, 0, 0).Ticks(), 0u);
  // 2024-02-29 12:34:56 UTC is 1709210096 s after 1970.
  const uint64_t leapDay = (1709210096ull + 11644473600ull) * 10'000'000ull;
  EXPECT_EQ(ParseTimeVal("20240229123456")->Ticks(), leapDay);
  EXPECT_EQ(ParseTimeVal("20240229123456.5")->Ticks(), leapDay + 5'000'000);
  EXPECT_EQ(ParseTimeVal("20240229123456.123")->Ticks(), leapDay + 1'230'000);
  EXPECT_EQ(ParseTimeVal("2024022912345"), std::nullopt);
  EXPECT_EQ(ParseTimeVal("20241329123456"), std::nullopt);
  EXPECT_EQ(ParseTimeVal("20240229123456."), std::nullopt);
  EXPECT_EQ(ParseTimeVal("2024022912345x"), std::nullopt);
}

TEST(Mlst, FactsAndNames) {
  auto file = ParseMlstLine(" type=file;size=68719476736;modify=20240229123456; /dir/a b.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->name, "/dir/a b.txt");
  EXPECT_FALSE(file->directory);
  EXPECT_EQ(file->size, 68719476736u);
  EXPECT_EQ(file->modified, ParseTimeVal("20240229123456"));

  for (const char* type : {"dir", "cdir", "pdir", "DIR"}) {
    auto dir = ParseMlstLine(std::string("Type=") + type + ";Modify=20200101000000; d");
    ASSERT_TRUE(dir) << type;
    EXPECT_TRUE(dir->directory) << type;
    EXPECT_EQ(dir->size, std::nullopt);
  }
  EXPECT_EQ(ParseMlstLine("type=file;size=1;"), std::nullopt);

  auto reply = ParseMlstReply("250-Listing /x\n type=file;size=3; /x\n250 End.");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->name, "/x");
  EXPECT_EQ(reply->size, 3u);
  EXPECT_EQ(ParseMlstReply("250 nothing"), std::nullopt);
}

struct ListCase {
  std::string line;
  std::optional<std::string> name;
  bool directory = false;
  std::optional<uint64_t> size;
  const char* time = nullptr;  // YYYYMMDDHHMMSS
};

TEST(ListLines, UnixAndDos) {
  const Today today{2024, 6, 15};
  const ListCase cases[] = {
      {"-rw-r--r--    1 1001     1001           10 Jun 10 12:34 file.txt", "file.txt", false, 10, "20240610123400"},
      {"drwxr-xr-x    2 0        0            4096 Jan 01  2020 sub dir", "sub dir", true, 4096, "20200101000000"},
      // Later in the year than today: last year's.
      {"-rw-r--r--    1 ftp      ftp    5000000000 Dec 31 23:59 big.bin", "big.bin", false, 5000000000u,
       "20231231235900"},
      {"-rw-r--r-- 1 owner 77 Mar  3 2021 nogroup", "nogroup", false, 77, "20210303000000"},
      {"lrwxrwxrwx    1 0 0 7 Feb  2 10:00 link -> target", "link", false, 7, "20240202100000"},
      {"-rw-r--r--    1 u g 12 Jun 10 12:34  two  spaces ", " two  spaces ", false, 12, "20240610123400"},
      {"01-02-24  03:04PM       <DIR>          Folder", "Folder", true, std::nullopt, "20240102150400"},
      {"12-31-1999  12:00AM            1234567 old file.doc", "old file.doc", false, 1234567, "19991231000000"},
      {"06-01-70  11:59AM                  0 empty", "empty", false, 0, "19700601115900"},
      {"total 8", std::nullopt},
      {"", std::nullopt},
      {"-rw-r--r-- 1 u g notasize Jun 10 12:34 x", std::nullopt},
      {"13-01-24  03:04PM  <DIR> bad month", std::nullopt},
      {"02-02--202024  11:59AM  4 negative year", std::nullopt},
      {"-rw-r--r-- 1 u g 5 Jun -1 12:34 negative day", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    auto e = ParseListLine(c.line, today);
    ASSERT_EQ(e.has_value(), c.name.has_value());
    if (!e) continue;
    EXPECT_EQ(e->name, *c.name);
    EXPECT_EQ(e->directory, c.directory);
    EXPECT_EQ(e->size, c.size);
    EXPECT_EQ(e->modified, ParseTimeVal(c.time));
  }
}

TEST(Paths, BaseDirAndWildcards) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"a/b/c", "c", "a/b"}, {"/a", "a", "/"}, {"a", "a", ""},   {"a/b/", "b", "a"},
      {"/", "", "/"},        {".", ".", ""},   {"/x/y", "y", "/x"},
  };
  for (const auto& [path, base, dir] : cases) {
    EXPECT_EQ(BaseName(path), base) << path;
    EXPECT_EQ(DirName(path), dir) << path;
  }
  EXPECT_TRUE(WildcardMatch("*.txt", "a.txt"));
  EXPECT_TRUE(WildcardMatch("a?c", "abc"));
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXXbYYc"));
  EXPECT_FALSE(WildcardMatch("*.txt", "a.txt.bak"));
  EXPECT_FALSE(WildcardMatch("a?c", "ac"));
  EXPECT_FALSE(WildcardMatch("abc", "abcd"));
}

}  // namespace
}  // namespace kadroo::ftp
