// The descriptors behind the platform's file objects, for the POSIX side of
// the platform layer only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace platform {

class NativeAccess {
 public:
  static int Descriptor(const Directory& directory) { return static_cast<int>(directory.handle_); }
  static std::intptr_t& Handle(Directory& directory) { return directory.handle_; }
  static FileIdentity& Identity(Directory& directory) { return directory.identity_; }
  static int Descriptor(const TextReader& reader) { return reader.fd_; }
  static int Descriptor(const TextWriter& writer) { return writer.fd_; }
  static const FileIdentity& Identity(const TextReader& reader) { return reader.identity_; }
  static void Adopt(TextWriter& writer, int fd, const std::string& name) { writer.Adopt(fd, name); }
  static std::uint64_t StartLength(const TextWriter& writer) { return writer.startLength_; }
};

// The name of the extended attribute that marks a temporary file of this
// tool, and its values: "temporary" while it is written, "log <length>
// <device> <inode>" once its run writes to the log, "replaced" on the
// source that it replaces, for the moment that the old file has its name.
extern const char kTemporaryMark[];

// The modification time of info in nanoseconds.
std::int64_t ModifiedTime(const struct stat& info);

}  // namespace platform
