#include "control/KadroOcx.h"

namespace kadroo {

int32_t KadroOcx::isInstalled() { return 1; }

Text KadroOcx::getMoBanFile() { return sMobanFile; }
Text KadroOcx::getLocalFile() { return sLocalFile; }
Text KadroOcx::getRemoteFile() { return sRemoteFile; }
Text KadroOcx::getErrorMsg() { return sErrorMsg; }
Text KadroOcx::getTiShiMsg() { return sTiShiMsg; }

int32_t KadroOcx::setLocalFile(const Text& asLocalFile) {
  sLocalFile = asLocalFile;
  return 1;
}

int32_t KadroOcx::Dispose() {
  SkipOnError trap;
  trap.Run([&] {
    if (!TrimSpaces(sLocalFile).empty()) {
      platform_.files.DeleteFile(sLocalFile);
    }
  });
  trap.Run([&] {
    if (!TrimSpaces(sMobanFile).empty()) {
      platform_.files.DeleteFile(sMobanFile);
    }
  });
  return 1;
}

}  // namespace kadroo
