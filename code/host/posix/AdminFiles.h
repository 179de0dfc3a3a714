#pragma once
// Files and paths that the administrator's policy for pages needs on Linux.
#include <optional>
#include <string>

namespace kadroo::posix {

// The content of a file that only root can change: the file and its folder owned by root and writable by no
// one else (group or others), the file a regular file and not a link. nullopt with `problem` empty when the file
// does not exist, with `problem` saying what is wrong otherwise.
std::optional<std::string> ReadRootOwnedFile(const std::string& path, std::string& problem);

// `path` with every link and "." or ".." resolved, as the system would resolve it when opening or creating it:
// an existing path in full, a missing one through its existing folder. Relative paths start at the working
// directory. nullopt when neither it nor its folder exists, or when it is a dangling link.
std::optional<std::string> ResolvePath(const std::string& path);
// The same, the last component kept as named (a program is started under its own name, even through a link).
std::optional<std::string> ResolveFolderOf(const std::string& path);

// The user's home directory: $HOME, else the password database's.
std::string HomeDirectory();

}  // namespace kadroo::posix
