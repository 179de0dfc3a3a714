#pragma once
// Registry files as the Windows registry editor exports and imports them: "Windows Registry Editor Version 5.00"
// (UTF-16LE with a byte-order mark, or UTF-8 with or without one) and "REGEDIT4" (the code page).
// Deletions are honoured in file order: "[-key]" removes the key and everything below it, and the values that
// follow it up to the next key line are skipped, as the registry editor skips them; "name"=- removes a value.
// Line continuations (a trailing backslash) join the lines of hex data only, where the editor writes them;
// comment lines may sit between the continued lines. Escapes in quoted text are \\ and \" only; any other
// backslash is kept as written.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/Platform.h"
#include "desktop/Registry.h"

namespace kadroo::posix {

// A key path inside a file: one of the six roots and the names below it, as written.
struct RegKeyPath {
  RegKey root = 0;
  std::vector<Text> names;
};

// One line of a file that changes the registry, in file order.
struct RegStatement {
  enum class Kind { kOpenKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kOpenKey;
  size_t line = 0;
  RegKeyPath key;     // kOpenKey, kDeleteKey
  Text name;          // kSetValue, kDeleteValue; empty for the default value "@"
  uint32_t type = 0;  // kSetValue
  // kSetValue: the data as the registry keeps it; the string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ)
  // as UTF-16LE with their NULs, whichever encoding the file used.
  std::string data;
};

struct RegParseError {
  size_t line = 0;  // 1-based; 0 when the file as a whole is at fault
  std::string message;
};

struct RegFileContent {
  std::vector<RegStatement> statements;
  // Set when the file cannot be used; `statements` is then empty and `namedKeys` lists every key line that
  // could still be recognised, so that the keys the file would hold can be kept from being opened.
  std::optional<RegParseError> error;
  std::vector<RegKeyPath> namedKeys;
};

// Parses one file. `codePage` decodes REGEDIT4 files and the hex data of their string values.
RegFileContent ParseRegFile(std::string_view bytes, CodePage& codePage);

// The string types, whose data the ANSI functions convert to the code page.
inline bool IsStringType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace kadroo::posix
