// The part of HeldTemporary that is the same on every system.
#include "platform/HeldTemporary.h"

#include "base/Exception.h"

namespace platform {

void HeldTemporary::PutOnDisk() {
  writer_.Sync();
  writer_.Close();
}

FileStatus HeldTemporary::CommitWith(const std::function<void()>& complete,
                                     const std::function<FileStatus()>& putInPlace) {
  if (!pending_) return FileStatus::kFailed;
  return HoldingInterruptions([&] {
    try {
      complete();
    } catch (const Exception&) {
      RemoveTemporary();
      return FileStatus::kFailed;
    }
    return putInPlace();
  });
}

}  // namespace platform
