// The handles behind the platform's file objects, for the Windows side of
// the platform layer only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace platform {

// An open file or directory keeps its HANDLE in the integer field that holds
// a descriptor on POSIX; -1 (INVALID_HANDLE_VALUE) is none.
inline HANDLE HandleOf(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
inline std::intptr_t ValueOf(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

class NativeAccess {
 public:
  static HANDLE Handle(const Directory& directory) { return HandleOf(directory.handle_); }
  static std::intptr_t& Value(Directory& directory) { return directory.handle_; }
  static FileIdentity& Identity(Directory& directory) { return directory.identity_; }
  static HANDLE Handle(const TextReader& reader) { return HandleOf(reader.fd_); }
  static HANDLE Handle(const TextWriter& writer) { return HandleOf(writer.fd_); }
  static const FileIdentity& Identity(const TextReader& reader) { return reader.identity_; }
};

// The path of an open directory wherever it is now, in the "\\?\" form that
// has no length limit; empty when it cannot be told.
std::string DirectoryPath(const Directory& directory);

// The same for a directory's HANDLE.
std::string DirectoryPath(HANDLE directory);

// name in directory as a path.
std::string PathIn(const Directory& directory, const std::string& name);

// What the system tells of an open file: its identity, size, last write time
// (in 100 ns units) and attributes. False when it cannot be told.
struct FileFacts {
  FileIdentity identity;
  std::uint64_t size;
  std::int64_t modified;
  DWORD attributes;
  DWORD links;
};
bool FactsOf(HANDLE handle, FileFacts& facts);

// The command line raw with only the pieces that stand for kept (argv[0]
// first, then the arguments in their order, as the C runtime split them),
// each as it was given; raw itself where they do not agree.
std::string CommandLineOf(const std::string& raw, const std::vector<std::string>& kept);

}  // namespace platform
