#include "control/KadroOcx.h"
#include "desktop/Processes.h"

namespace kadroo {
namespace {

// The most characters a command line can hold, its terminating NUL included. The platform refuses a longer one
// with this same error, but from 65,536 characters on its counters wrap and it starts the program with the line
// cut, so a longer line is refused here before anything starts.
constexpr size_t kMaxCommandLine = 32767;

// The program's path as the first word of a command line. Quoted when it holds a blank: every program splits its
// command line at blanks, and the command interpreter that runs a batch file would start whatever program
// the path's first word names.
Text ProgramWord(const Text& filepath) {
  const bool quoted = filepath.size() >= 2 && filepath.front() == u'"' && filepath.back() == u'"';
  if (quoted || filepath.find_first_of(u" \t") == Text::npos) return filepath;
  return u"\"" + filepath + u"\"";
}

}  // namespace

int32_t KadroOcx::OpenExefile(Text filepath, Text parm) {
  if (platform_.processes.PathFileExists(filepath) == 1) {
    const Text commandLine = ProgramWord(filepath) + u" " + parm;
    if (commandLine.size() + 1 > kMaxCommandLine) Raise(ErrorNumber::kInvalidProcedureCall);
    // The checked path is the program: a planted prefix of a path with spaces can never run instead.
    platform_.processes.StartProcess(filepath, commandLine, SW_SHOWMINIMIZED);
    return 1;
  }
  return Fail(u"文件不存在：" + filepath);
}

int32_t KadroOcx::OpenExefileByReg(Text regkey, Text regValuename, Text parm, Text exefilename) {
  Text value;
  if (ReadRegValue(regkey, regValuename, value) == -1) return -1;
  const int32_t r = OpenExefile(value + u"\\" + exefilename, parm);
  return r == -1 ? -1 : 1;
}

}  // namespace kadroo
