#include "host/ftp/DownloadPlacement.h"

namespace kadroo::ftp {
namespace {

constexpr int32_t kAccessDenied = 5;
constexpr int32_t kWriteProtect = 19;
constexpr int32_t kHandleEof = 38;
constexpr int32_t kFileExists = 80;

}  // namespace

DownloadPlacement::~DownloadPlacement() {
  if (!partial_.empty()) files_.Remove(partial_);
}

int32_t DownloadPlacement::Prepare(const std::string& target, bool failIfExists) {
  target_ = files_.Inspect(target);
  if (target_.exists) {
    if (!target_.plainFile) return kAccessDenied;
    if (failIfExists) return kFileExists;
    if (target_.readOnly) return kAccessDenied;
  }
  if (target_.destination.empty()) target_.destination = target;
  const int32_t err = files_.CreatePartial(files_.DirectoryOf(target_.destination), partial_);
  beside_ = err == 0;
  if (beside_) return 0;
  partial_.clear();
  // A writable file in a directory that is not: received elsewhere, then copied in.
  if (!target_.exists || (err != kAccessDenied && err != kWriteProtect)) return err;
  if (files_.CreatePartial(files_.TemporaryDirectory(), partial_) != 0) {
    partial_.clear();
    return err;
  }
  return 0;
}

int32_t DownloadPlacement::Place(uint64_t received) {
  if (received == 0 && target_.exists) return kHandleEof;
  if (beside_ && !target_.writeThrough) {
    const int32_t err = files_.MoveOnto(partial_, target_.destination);
    if (err == 0) partial_.clear();
    return err;
  }
  return files_.CopyInto(partial_, target_.destination);
}

}  // namespace kadroo::ftp
