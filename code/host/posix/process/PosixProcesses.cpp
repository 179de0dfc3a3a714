#include "host/posix/process/PosixProcesses.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "control/RuntimeError.h"
#include "host/posix/Fd.h"
#include "host/posix/LocalPath.h"
#include "host/posix/process/CommandLine.h"

extern char** environ;

namespace kadroo::posix {
namespace {

[[noreturn]] void RaiseForErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: Raise(ErrorNumber::kFileNotFound);
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY: Raise(ErrorNumber::kPermissionDenied);
    default: Raise(ErrorNumber::kInvalidProcedureCall);
  }
}

void WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

// Runs in the grandchild, after fork: async-signal-safe calls only. Reports a failed exec as its errno.
[[noreturn]] void ExecProgram(const char* program, char* const* argv, int errorPipe) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGXFSZ}) signal(sig, SIG_DFL);
  ::setsid();
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    // The host may speak a protocol on its standard output, and a program started from a page has no console.
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO) ::close(null);
  }
  // Nothing else of the host's (sockets, files) goes to the program.
  // The error pipe is close-on-exec already.
#ifdef CLOSE_RANGE_CLOEXEC
  if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
#endif
  {
    const long maxFd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = STDERR_FILENO + 1; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  ::execve(program, argv, environ);
  const int error = errno;
  WriteAll(errorPipe, &error, sizeof error);
  ::_exit(127);
}

bool IsProgramFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Where a program is found: a name with a directory as it stands; a bare name in the absolute directories of
// PATH only, never in the working directory, where anyone who can write there could plant one.
std::optional<std::string> FindProgram(const std::string& program) {
  if (program.empty()) return std::nullopt;
  if (program.find('/') != std::string::npos) {
    if (IsProgramFile(program)) return program;
    return std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!dirs.empty()) {
    const size_t colon = dirs.find(':');
    const std::string dir(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    if (dir.empty() || dir[0] != '/') continue;
    const std::string candidate = dir + "/" + program;
    if (IsProgramFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

}  // namespace

int32_t PosixProcesses::PathFileExists(TextView path) {
  auto local = ToLocalPath(codePage_, path);
  if (!local || local->empty()) return 0;
  struct stat st;
  return ::stat(local->c_str(), &st) == 0 ? 1 : 0;
}

void PosixProcesses::StartProcess(TextView application, TextView commandLine, int32_t) {
  if (commandLine.find(u'\0') != TextView::npos || application.find(u'\0') != TextView::npos) {
    Raise(ErrorNumber::kInvalidProcedureCall);
  }
  ProgramCall call;
  if (!application.empty()) {
    // The program is the named file; the command line only supplies the arguments it receives. It names the
    // program first, as it stands or in quotes; a quote inside the name cannot end the quoted form early here.
    call.program = Text(application);
    const Text quoted = u"\"" + Text(application) + u"\"";
    const size_t named = commandLine.substr(0, application.size()) == application ? application.size()
                         : commandLine.substr(0, quoted.size()) == quoted      ? quoted.size()
                                                                               : 0;
    call.arguments = named > 0 ? SplitArguments(commandLine.substr(named))
                               : std::vector<Text>(SplitCommandLine(commandLine));
    if (named == 0 && !call.arguments.empty()) call.arguments.erase(call.arguments.begin());
  } else {
    call = ResolveCommandLine(commandLine, [&](TextView candidate) {
      auto local = ToLocalPath(codePage_, candidate);
      return local && FindProgram(*local).has_value();
    });
  }

  auto program = ToLocalPath(codePage_, call.program);
  if (!program) Raise(ErrorNumber::kInvalidProcedureCall);
  if (program->empty()) Raise(ErrorNumber::kFileNotFound);
  if (application.empty()) {
    auto found = FindProgram(*program);
    if (!found) Raise(ErrorNumber::kFileNotFound);
    *program = *found;
  }
  struct stat st;
  if (::stat(program->c_str(), &st) != 0) RaiseForErrno(errno);
  if (S_ISDIR(st.st_mode)) Raise(ErrorNumber::kPermissionDenied);
  if (::access(program->c_str(), X_OK) != 0) RaiseForErrno(errno);

  std::vector<std::string> args{*program};
  for (const auto& argument : call.arguments) {
    auto bytes = codePage_.ToAnsi(argument);
    if (!bytes) Raise(ErrorNumber::kInvalidProcedureCall);
    args.push_back(std::move(*bytes));
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) Raise(ErrorNumber::kOutOfMemory);
  Fd readEnd(pipeFds[0]);
  Fd writeEnd(pipeFds[1]);

  // Fork twice: the middle process exits at once and is reaped here; the program is left to init.
  const pid_t middle = ::fork();
  if (middle < 0) Raise(ErrorNumber::kOutOfMemory);
  if (middle == 0) {
    ::close(pipeFds[0]);
    const pid_t grandchild = ::fork();
    if (grandchild == 0) ExecProgram(program->c_str(), argv.data(), pipeFds[1]);
    if (grandchild < 0) {
      const int error = errno;
      WriteAll(pipeFds[1], &error, sizeof error);
    }
    ::_exit(0);
  }
  writeEnd.reset();
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }

  int error = 0;
  ssize_t got;
  do {
    got = ::read(readEnd.get(), &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof error)) {
    if (error == ENOEXEC) Raise(ErrorNumber::kInvalidProcedureCall);
    RaiseForErrno(error);
  }
}

}  // namespace kadroo::posix
