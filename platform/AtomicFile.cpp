// The parts of AtomicFile that are the same on every system; each system
// creates, completes and commits the temporary file its own way.
#include "platform/AtomicFile.h"

#include <cstdio>
#include <random>

namespace platform {

namespace {

// Tries make with fresh temporary suffixes (".1a2b3c4d5e6f.tmp") until one
// is not taken.
template <class TMake>
FileStatus WithUniqueSuffix(TMake make) {
  std::random_device seed;
  std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    const FileStatus status = make(std::string(suffix));
    if (status != FileStatus::kExists) return status;
  }
  return FileStatus::kFailed;
}

}  // namespace

FileStatus AtomicFile::OpenUnique(const std::string& target) {
  return WithUniqueSuffix([&](const std::string& suffix) { return Open(target, target + suffix); });
}

FileStatus AtomicFile::OpenUnique(const Directory& directory, const std::string& name,
                                  const std::string& shown) {
  return WithUniqueSuffix([&](const std::string& suffix) {
    directory_ = &directory;
    target_ = name;
    temporary_ = shown + suffix;
    return Create(name + suffix);
  });
}

}  // namespace platform
