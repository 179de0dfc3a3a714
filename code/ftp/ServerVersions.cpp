// What the control asks the server about a file's version, and how it keeps a version that another clerk saved.
#include <chrono>
#include <ctime>

#include "control/KadroOcx.h"
#include "ftp/FtpClient.h"
#include "ftp/Sha256.h"

namespace kadroo {
namespace {

std::string Narrow(const Text& text) { return ToUtf8Lossy(text); }

}  // namespace

Text KadroOcx::ServerKey(const Text& remote) const {
  return sServer + u'\n' + sPort + u'\n' + sUid + u'\n' + remote;
}

const ServerFeatures& KadroOcx::Features() {
  const Text key = ServerKey(u"");
  auto known = features_.find(key);
  if (known != features_.end()) return known->second;
  Text reply;
  platform_.ftp.FtpCommand(hConnect, u"FEAT", reply);
  return features_[key] = ParseFeatures(Narrow(reply));
}

ServerFileState KadroOcx::ReadServerState(const Text& remote, bool withSize, bool withHash) {
  const ServerFeatures features = Features();
  ServerFileState state;
  Text reply;
  bool described = false;
  if (features.mlst && platform_.ftp.FtpCommand(hConnect, u"MLST " + remote, reply)) {
    described = ParseMlstReply(Narrow(reply), state);
  }
  if (!described) {
    if (withSize && platform_.ftp.FtpCommand(hConnect, u"SIZE " + remote, reply)) {
      state.size = ParseSizeReply(Narrow(reply));
    }
    if (platform_.ftp.FtpCommand(hConnect, u"MDTM " + remote, reply)) state.modified = ParseMdtmReply(Narrow(reply));
  }
  if (withHash && features.hash && state.Known()) {
    const HashCommand& hash = *features.hash;
    if (hash.select) platform_.ftp.FtpCommand(hConnect, FromAscii("OPTS HASH " + hash.algorithm), reply);
    if (platform_.ftp.FtpCommand(hConnect, FromAscii(hash.verb + " ") + remote, reply)) {
      state.hash = ParseHashReply(Narrow(reply), hash.hexLength);
      if (!state.hash.empty()) state.hashAlgorithm = hash.algorithm;
    }
  }
  return state;
}

std::string KadroOcx::LocalSha256(const Text& path) {
  Sha256 digest;
  if (!platform_.files.ReadFile(path, [&](std::string_view piece) { digest.Update(piece); })) return {};
  return digest.HexDigest();
}

Text KadroOcx::KeepOthersVersion() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::tm local = *std::localtime(&now);
  // Never over an existing file: Unix servers replace the target of a rename without a word.
  for (int attempt = 1; attempt <= 20; ++attempt) {
    const Text kept = KeptName(sRemoteFile, local, attempt);
    FindData record;
    const Handle search = platform_.ftp.FtpFindFirstFile(hConnect, kept, record, 0, 0);
    if (search > 0) {
      platform_.ftp.InternetCloseHandle(search);
      continue;
    }
    return platform_.ftp.FtpRenameFile(hConnect, sRemoteFile, kept) ? kept : Text();
  }
  return Text();
}

}  // namespace kadroo
