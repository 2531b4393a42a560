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

// Paths at the system's boundary. The program's texts, paths included, are
// in the ANSI code page; the file functions are given the wide "\\?\" form
// of a path, which has no length limit (the ANSI functions stop at
// MAX_PATH, about 260 characters).

// text in the ANSI code page as UTF-16, and back.
std::wstring WideOf(const std::string& text);
std::string AnsiOf(const std::wstring& text);

// The "\\?\" form of path, made whole against the current directory
// ("src\a.pas" gives "\\?\C:\work\src\a.pas", "\\host\share" gives
// "\\?\UNC\host\share"); a path in that form already is kept. Empty when
// path is empty or cannot be made whole.
std::wstring LongPath(const std::string& path);

// path as a user writes it: without the "\\?\" of the long form.
std::string ShortForm(const std::wstring& path);

// The final path of an open file or directory (links followed), in the
// "\\?\" form; empty when it cannot be told.
std::wstring FinalPathOf(HANDLE handle);

// Whether handle, opened by path, is the very entry path names, not a file
// that a link in path's last step leads to. Wine opens a Unix symbolic link
// to a file as that file, with no sign of a link but its final path.
bool IsNamedEntry(HANDLE handle, const std::wstring& path);

// The path of an open directory wherever it is now, in the "\\?\" form;
// empty when it cannot be told.
std::wstring DirectoryPath(const Directory& directory);

// The same for a directory's HANDLE.
std::wstring DirectoryPath(HANDLE directory);

// name in directory as a path in the "\\?\" form; empty when the
// directory's path cannot be told, so that nothing is reached elsewhere.
std::wstring PathIn(const Directory& directory, const std::string& name);

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

// The pieces of a file replacement that AtomicFile (win32/Win32AtomicFile.cpp)
// and SourceReplacement (win32/Win32SourceReplacement.cpp) share.

// Creates name in directory exclusively for writer, which shown names in
// messages, and keeps a second handle on it in held, open when the writer
// closes; kFailed, with nothing left, when that handle cannot be had.
FileStatus CreateHeld(TextWriter& writer, const Directory& directory, const std::string& name,
                      const std::string& shown, unsigned permissions, std::intptr_t& held);

// Abandons writer and removes the file that held has open, through held.
void RemoveHeld(TextWriter& writer, std::intptr_t& held);

// Writes what writer buffers, puts the file on the disk and closes it; harmless
// when it is closed already.
void CompleteHeld(TextWriter& writer);

// Lets the completed temporary file, which held has open, take target's
// place, and gives it attributes (none when 0). A target that is a link is
// not replaced (kFailed); kChanged when the target has gone meanwhile. The
// temporary file is gone either way.
FileStatus PutInPlace(TextWriter& writer, std::intptr_t& held, const std::wstring& target,
                      const std::wstring& temporary, DWORD attributes);

// The command line raw with only the pieces that stand for kept (argv[0]
// first, then the arguments in their order, as the C runtime split them),
// each as it was given; raw itself where they do not agree.
std::string CommandLineOf(const std::string& raw, const std::vector<std::string>& kept);

}  // namespace platform
