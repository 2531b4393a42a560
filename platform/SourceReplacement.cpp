// The part of SourceReplacement that is the same on every system; each
// system creates, marks and exchanges the files its own way.
#include "platform/SourceReplacement.h"

namespace platform {

FileStatus SourceReplacement::Open(const Directory& directory, const std::string& name,
                                   const std::string& temporaryName, const TextReader& source,
                                   const std::string& shownTemporary) {
  directory_ = &directory;
  target_ = name;
  temporary_ = shownTemporary;
  source_ = &source;
  return Create(temporaryName);
}

}  // namespace platform
