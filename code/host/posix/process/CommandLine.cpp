#include "host/posix/process/CommandLine.h"

namespace kadroo::posix {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The program-name rule; returns the name and leaves `rest` after it.
Text ProgramName(TextView line, TextView& rest) {
  if (!line.empty() && line.front() == u'"') {
    const size_t close = line.find(u'"', 1);
    if (close == TextView::npos) {
      rest = TextView();
      return Text(line.substr(1));
    }
    rest = line.substr(close + 1);
    return Text(line.substr(1, close - 1));
  }
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  rest = line.substr(end);
  return Text(line.substr(0, end));
}

}  // namespace

std::vector<Text> SplitArguments(TextView s) {
  std::vector<Text> args;
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i == s.size()) return args;
  Text current;
  int quotes = 0;  // 0 outside quotes; 1 inside
  size_t backslashes = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    if (IsBlank(c) && quotes == 0) {
      args.push_back(std::move(current));
      current.clear();
      backslashes = 0;
      while (i < s.size() && IsBlank(s[i])) ++i;
      if (i == s.size()) return args;
      continue;
    }
    if (c == u'\\') {
      current += c;
      ++backslashes;
      ++i;
      continue;
    }
    if (c == u'"') {
      if (backslashes % 2 == 0) {
        current.resize(current.size() - backslashes / 2);
        ++quotes;
      } else {
        current.resize(current.size() - backslashes / 2 - 1);
        current += u'"';
      }
      ++i;
      backslashes = 0;
      // Counting the quote that opened the part: three in a row give one literal quote and stay inside.
      while (i < s.size() && s[i] == u'"') {
        if (++quotes == 3) {
          current += u'"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    current += c;
    backslashes = 0;
    ++i;
  }
  args.push_back(std::move(current));
  return args;
}

std::vector<Text> SplitCommandLine(TextView commandLine) {
  TextView rest;
  std::vector<Text> args{ProgramName(commandLine, rest)};
  // An unquoted program name gives up the one blank that ended it; the argument rules skip the others.
  for (auto& arg : SplitArguments(rest)) args.push_back(std::move(arg));
  return args;
}

ProgramCall ResolveCommandLine(TextView commandLine, const std::function<bool(TextView)>& isFile) {
  TextView line = commandLine;
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  ProgramCall call;
  TextView rest;
  if (!line.empty() && line.front() == u'"') {
    call.program = ProgramName(line, rest);
    call.arguments = SplitArguments(rest);
    return call;
  }
  for (size_t end = 0; end <= line.size(); ++end) {
    if (end < line.size() && !IsBlank(line[end])) continue;
    if (end > 0 && !IsBlank(line[end - 1]) && isFile(line.substr(0, end))) {
      call.program = Text(line.substr(0, end));
      call.arguments = SplitArguments(line.substr(end));
      return call;
    }
  }
  call.program = ProgramName(line, rest);
  call.arguments = SplitArguments(rest);
  return call;
}

}  // namespace kadroo::posix
