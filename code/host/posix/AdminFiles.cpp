#include "host/posix/AdminFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "policy/BridgePolicy.h"

namespace kadroo::posix {
namespace {

std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return "/" + path;
  return std::string(cwd) + "/" + path;
}

// Splits an absolute path into its folder and its last component, "." and ".." resolved by the system.
bool SplitLast(const std::string& path, std::string& folder, std::string& name) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return false;
  folder = slash == 0 ? "/" : trimmed.substr(0, slash);
  name = trimmed.substr(slash + 1);
  return !name.empty() && name != "." && name != "..";
}

bool OnlyRootWrites(const struct stat& st) { return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0; }

}  // namespace

std::optional<std::string> ReadRootOwnedFile(const std::string& path, std::string& problem) {
  problem.clear();
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, std::max<size_t>(slash, 1));
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    problem = path + ": " + (errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    return std::nullopt;
  }
  struct stat st, dir;
  std::string content;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    problem = path + ": not a regular file";
  } else if (!OnlyRootWrites(st)) {
    problem = path + ": must be owned by root and writable by no one else";
  } else if (::stat(folder.c_str(), &dir) != 0 || !OnlyRootWrites(dir)) {
    problem = folder + ": must be owned by root and writable by no one else";
  } else {
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && content.size() < 16 * 1024 * 1024) content.append(buffer, n);
    if (n < 0) problem = path + ": " + std::strerror(errno);
  }
  ::close(fd);
  if (!problem.empty()) return std::nullopt;
  return content;
}

std::optional<std::string> ResolvePath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const std::string absolute = Absolute(path);
  if (auto whole = RealPath(absolute)) return whole;
  struct stat st;
  if (errno != ENOENT || ::lstat(absolute.c_str(), &st) == 0) return std::nullopt;  // a dangling link, a loop
  std::string folder, name;
  if (!SplitLast(absolute, folder, name)) return std::nullopt;
  auto resolved = RealPath(folder);
  if (!resolved) return std::nullopt;
  return (*resolved == "/" ? "" : *resolved) + "/" + name;
}

std::optional<std::string> ResolveFolderOf(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::string folder, name;
  if (!SplitLast(Absolute(path), folder, name)) return std::nullopt;
  auto resolved = RealPath(folder);
  if (!resolved) return NormalizePath(Absolute(path));
  return (*resolved == "/" ? "" : *resolved) + "/" + name;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

}  // namespace kadroo::posix
