// libFuzzer target: any bytes as what a server sends, through every parser of the FTP client's protocol text.
// The first byte picks how the rest is read; every parser must return (a value or nothing), never throw or crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/ftp/FtpProtocol.h"

namespace {

using namespace kadroo::ftp;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Lines as the control connection delivers them: split at LF, CR dropped.
void FeedReplies(std::string_view text) {
  ReplyParser parser;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) lf = text.size();
    std::string_view line = text.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (auto reply = parser.Feed(line)) {
      Check(reply->code == -1 || (reply->code >= 0 && reply->code <= 999));
      (void)ParseTransferSize(reply->text);
      (void)ParsePwdReply(reply->text);
      (void)FeatHas(reply->text, "MLST");
      (void)ParseSizeReply(reply->text);
      (void)ParseMlstReply(reply->text);
      if (reply->text.size() >= 3) {
        if (auto a = ParsePasvReply(std::string_view(reply->text).substr(3))) Check(a->host.size() <= 15);
      }
      if (auto a = ParseEpsvReply(reply->text)) Check(a->port != 0 && a->host.empty());
    }
    start = lf + 1;
  }
}

void ParseListing(std::string_view text) {
  const Today todays[] = {{2024, 2, 29}, {2025, 1, 1}, {1970, 12, 31}};
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) lf = text.size();
    const std::string_view line = text.substr(start, lf - start);
    for (const Today& today : todays) {
      if (auto entry = ParseListLine(line, today)) Check(entry->name.size() <= line.size());
    }
    if (auto entry = ParseMlstLine(line)) Check(entry->name.size() <= line.size());
    start = lf + 1;
  }
}

void ParsePaths(std::string_view text) {
  const size_t split = text.find('\0');
  const std::string_view pattern = text.substr(0, split);
  const std::string_view name = split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
  (void)WildcardMatch(pattern.substr(0, 64), name.substr(0, 256));
  Check(BaseName(text).size() <= text.size());
  Check(DirName(text).size() <= text.size());
  (void)ParseTimeVal(text);
  if (text.size() >= 2) {
    (void)FormatPortArgument(text.substr(2), static_cast<uint16_t>(text[0] << 8 | static_cast<uint8_t>(text[1])));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: FeedReplies(text); break;
    case 1: ParseListing(text); break;
    default: ParsePaths(text); break;
  }
  return 0;
}
