#include "control/KadroOcx.h"
#include "desktop/Processes.h"

namespace kadroo {

int32_t KadroOcx::OpenExefile(Text filepath, Text parm) {
  if (platform_.processes.PathFileExists(filepath) == 1) {
    platform_.processes.StartProcess(filepath + u" " + parm, SW_SHOWMINIMIZED);
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
