#pragma once
// What the control learns of a server file so that an upload can tell whether someone else saved it since it was
// fetched, and the FTP replies it learns it from: FEAT, SIZE, MDTM and MLST (RFC 3659), HASH
// (draft-bryan-ftpext-hash) and the older XSHA256, XSHA1, XMD5 and XCRC. Replies are given whole, as the FTP client
// returns them: every line with its code, CR LF or LF between the lines.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "control/Text.h"

namespace kadroo {

// The digest command the control uses with a server.
struct HashCommand {
  std::string algorithm;  // "SHA-256", "SHA-1", "MD5" or "CRC32", as HASH names them
  std::string verb;       // "XSHA256", "XSHA1", "XSHA", "XMD5", "XCRC" or "HASH"
  bool select = false;    // HASH whose current algorithm is another: "OPTS HASH <algorithm>" first
  size_t hexLength = 0;   // digits of the digest
};

struct ServerFeatures {
  bool mlst = false;
  std::optional<HashCommand> hash;  // the strongest offered; X commands before HASH, as they need no OPTS
};

// The features of a reply to FEAT; none for a refusal or a reply without feature lines.
ServerFeatures ParseFeatures(std::string_view featReply);

// One version of a server file as the server describes it. Each fact is kept as the server wrote it and is only
// ever compared with the same fact of the same server, so a server that rounds its times gives the same rounded
// time for an unchanged file.
struct ServerFileState {
  std::optional<uint64_t> size;  // SIZE, or MLST's size fact
  std::string modified;          // MDTM's time
  std::string mlstModify;        // MLST's modify fact
  std::string unique;            // MLST's unique fact: a rename-swap gives the new file a new one
  std::string hashAlgorithm;
  std::string hash;              // lower-case hexadecimal

  // Whether the server described the file at all (it exists, and offers SIZE, MDTM or MLST for it).
  bool Known() const { return size.has_value() || !modified.empty() || !mlstModify.empty(); }
};

// True when `now` is another version than `baseline`. Where both carry a digest of the same algorithm, the
// content decides alone (a file written again with the same content is no change); otherwise any fact that both
// know and that differs.
bool ChangedMeanwhile(const ServerFileState& baseline, const ServerFileState& now);

// The code of a reply (of its last line); 0 when there is none.
int ReplyCode(std::string_view reply);
// "213 1234".
std::optional<uint64_t> ParseSizeReply(std::string_view reply);
// "213 20261210143512" or with a fraction: the time as written; empty when the reply holds none.
std::string ParseMdtmReply(std::string_view reply);
// "250-...", " type=file;size=9;modify=20261210143512;unique=803g1a; /docs/a.doc", "250 End": fills the size,
// modify and unique facts; false when the reply has no line of facts.
bool ParseMlstReply(std::string_view reply, ServerFileState& state);
// "213 SHA-256 0-49 <hex> path" (older servers omit the range) or "250 <hex>": the digest, lower case; empty
// unless the reply is positive and holds a hexadecimal word of `hexLength` digits.
std::string ParseHashReply(std::string_view reply, size_t hexLength);

// The name under which the version another clerk saved of `remote` is kept: in the same folder, P's name with
// the local date and time of the save before its extension ("docs/report.doc" -> "docs/report.20261210-143512.doc",
// a name without extension gets it at the end), and "-2", "-3" after the time for the second and further
// attempts. Digits, '-' and '.' only, which every server accepts in a name.
Text KeptName(const Text& remote, const std::tm& local, int attempt);

}  // namespace kadroo
