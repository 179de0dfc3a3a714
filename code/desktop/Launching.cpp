#include "control/KadroOcx.h"
#include "desktop/Processes.h"

namespace kadroo {

int32_t KadroOcx::OpenExefile(Text filepath, Text parm) {
  if (platform_.processes.PathFileExists(filepath) == 1) {
    // The checked path is the program: a planted prefix of an unquoted path with spaces can never run instead.
    platform_.processes.StartProcess(filepath, filepath + u" " + parm, SW_SHOWMINIMIZED);
    return 1;
  }
  sErrorMsg = u"文件不存在：" + filepath;
  return -1;
}

int32_t KadroOcx::OpenExefileByReg(Text regkey, Text regValuename, Text parm, Text exefilename) {
  Text value;
  if (ReadRegValue(regkey, regValuename, value) == -1) return -1;
  const int32_t r = OpenExefile(value + u"\\" + exefilename, parm);
  return r == -1 ? -1 : 1;
}

}  // namespace kadroo
