#pragma once
// The text of the FTP protocol, free of sockets: replies (RFC 959), the addresses of 227/229 and of EPRT/PORT
// (RFC 959, RFC 2428), FEAT, MDTM and MLST facts (RFC 3659), and the lines of Unix and DOS directory listings.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/Platform.h"

namespace kadroo::ftp {

struct Reply {
  int code = 0;       // three digits; 0 when the server closed the connection instead of replying
  std::string text;   // every line, joined by '\n', without CR LF
  bool Preliminary() const { return code >= 100 && code < 200; }
  bool Positive() const { return code >= 200 && code < 400; }
};

// Collects the lines of one reply. A reply is one line "ddd text", or a first line "ddd-text" and every line up
// to the one that starts with the same three digits and a space.
class ReplyParser {
 public:
  // Feeds one line without its line end; returns the reply once its last line arrived. A line that cannot
  // start a reply yields a reply with code -1.
  std::optional<Reply> Feed(std::string_view line);
  bool InProgress() const { return code_ != 0; }

 private:
  int code_ = 0;
  std::string text_;
};

// Where a server's data connection waits.
struct PassiveAddress {
  std::string host;  // dotted IPv4 from 227; empty from 229 (the control connection's peer is meant)
  uint16_t port = 0;
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the six numbers may stand anywhere in the text.
std::optional<PassiveAddress> ParsePasvReply(std::string_view text);
// "229 Entering Extended Passive Mode (|||port|)": any delimiter character, the two fields before the port empty.
std::optional<PassiveAddress> ParseEpsvReply(std::string_view text);

// The argument of EPRT: "|1|127.0.0.1|5282|", "|2|::1|5282|". `family` is 1 (IPv4) or 2 (IPv6).
std::string FormatEprtArgument(int family, std::string_view address, uint16_t port);
// The argument of PORT: "127,0,0,1,20,162"; nullopt unless `address` is dotted IPv4.
std::optional<std::string> FormatPortArgument(std::string_view address, uint16_t port);

// The size announced in a 150 reply, "150 Opening BINARY mode data connection for f (1234 bytes).".
std::optional<uint64_t> ParseTransferSize(std::string_view text);

// The directory of a 257 reply to PWD: the quoted text, "" standing for one quote.
std::optional<std::string> ParsePwdReply(std::string_view text);

// True when the reply to FEAT lists `feature` (case-insensitive, the first word of a line).
bool FeatHas(std::string_view featReplyText, std::string_view feature);

// The 64-bit number of a "213 n" reply to SIZE.
std::optional<uint64_t> ParseSizeReply(std::string_view text);

// "YYYYMMDDHHMMSS[.fff]" in UTC (MDTM's reply and MLST's modify fact) as FILETIME.
std::optional<FileTime> ParseTimeVal(std::string_view text);
// FILETIME of a civil UTC date and time.
FileTime FileTimeFromCivil(int year, int month, int day, int hour, int minute, int second, int millisecond = 0);

// What a find reports of one directory entry.
struct Entry {
  std::string name;
  bool directory = false;
  std::optional<uint64_t> size;
  std::optional<FileTime> modified;
};

// One MLST/MLSD line: "type=file;size=10;modify=20240102030405; name" (facts case-insensitive, leading space
// before the name). nullopt without the separating space.
std::optional<Entry> ParseMlstLine(std::string_view line);
// The entry of MLST's reply: the line of facts between the first and the last line.
std::optional<Entry> ParseMlstReply(std::string_view replyText);

// The current year and month, to place Unix listings' "Mon DD HH:MM" dates (no year given) in a year.
struct Today {
  int year;
  int month;  // 1..12
  int day;
};

// One line of a LIST: Unix ("drwxr-xr-x 2 user group 4096 Jan  1 12:00 name", group optional, symlinks
// "name -> target") or DOS ("01-02-24  03:04PM  <DIR>  name" or a size in place of <DIR>). nullopt for lines
// such as "total 8".
std::optional<Entry> ParseListLine(std::string_view line, const Today& today);

// The last component of a remote path ("a/b/c" -> "c", "a/b/" -> "b", "/" -> ""), and what is before it
// ("a/b/c" -> "a/b", "c" -> "", "/c" -> "/").
std::string_view BaseName(std::string_view path);
std::string_view DirName(std::string_view path);

// True when `pattern` (with '*' and '?') matches `name` exactly.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace kadroo::ftp
