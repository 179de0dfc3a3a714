#pragma once
// Windows command lines: how CreateProcess finds the program in one, and how CommandLineToArgvW splits one.
#include <functional>
#include <vector>

#include "control/Text.h"

namespace kadroo::posix {

// Splits as CommandLineToArgvW does: the first argument by the program-name rule (up to the next quote when
// it starts with one, else up to the first space or tab, backslashes literal), the rest by the argument rules
// (quotes group, 2n backslashes and a quote give n backslashes, 2n+1 give n and a literal quote, consecutive
// quotes inside a quoted part count in threes).
std::vector<Text> SplitCommandLine(TextView commandLine);

// The argument rules alone, for the text after the program name.
std::vector<Text> SplitArguments(TextView arguments);

struct ProgramCall {
  Text program;
  std::vector<Text> arguments;
};

// Finds the program as CreateProcess does when given no separate program name: a quoted program ends at the
// next quote; an unquoted one is the shortest prefix ending before a space or tab for which `isFile` holds,
// or the first word when none does. The text after it is split by the argument rules.
ProgramCall ResolveCommandLine(TextView commandLine, const std::function<bool(TextView)>& isFile);

}  // namespace kadroo::posix
