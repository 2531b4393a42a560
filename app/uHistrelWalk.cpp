#include "app/uHistrel.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/uHistrelConstants.h"
#include "app/uHistrelInternal.h"
#include "app/uHistrelReadAhead.h"
#include "app/uHistrelRunKind.h"
#include "base/Exception.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/SourceReplacement.h"
#include "support/uStringRoutines.h"
#include "text/Ansi.h"
#include "text/ShownName.h"

using histrel_internal::EndsWithBackslash;
using histrel_internal::FindAnsiText;
using histrel_internal::kLogExtension;
using histrel_internal::kTemporaryExtension;
using histrel_internal::LengthOf;
using histrel_internal::TemporaryPathOf;

namespace {

// Whether an entry is a file or a directory (links followed), from the
// listing where it knows, else from the file system.
bool EntryIsFile(const platform::DirectoryEntry& entry, const platform::Directory& directory) {
  if (entry.kind != platform::EntryKind::kUnknown) return entry.kind == platform::EntryKind::kFile;
  return directory.KindOf(entry.name) == platform::EntryKind::kFile;
}

bool EntryMayBeDirectory(const platform::DirectoryEntry& entry) {
  return entry.kind != platform::EntryKind::kFile;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// Whether the workers may read the entry ahead of the walk: what may be a
// file and can be named. Everything else is the walk's alone.
bool MayBeAskedAbout(const platform::DirectoryEntry& entry) {
  return entry.kind != platform::EntryKind::kDirectory && !IsDotEntry(entry.name) &&
         entry.name.find('\\') == std::string::npos;
}

// Sources up to this size are read at once by a worker; larger ones in
// pieces, so that the workers together hold little memory.
constexpr std::size_t kReadAheadHoldLimit = std::size_t{1} << 20;

// Lends the walk's read-ahead to the worker for one run.
class TReadAheadInUse {
 public:
  TReadAheadInUse(TReadAhead*& ASlot, TReadAhead& AReadAhead) : FSlot(ASlot) {
    FSlot = &AReadAhead;
  }
  ~TReadAheadInUse() { FSlot = nullptr; }
  TReadAheadInUse(const TReadAheadInUse&) = delete;
  TReadAheadInUse& operator=(const TReadAheadInUse&) = delete;

 private:
  TReadAhead*& FSlot;
};

}  // namespace

// ---------------------------------------------------------------------------
// The walk

void THistrel::Execute() {
  FTally = TTally();
  if (FUser.empty()) throw Exception(SUserMissing);
  if (!FFileList) {
    if (FPath.empty()) throw Exception(SPathMissing);
    if (!platform::IsDirectory(FPath)) {
      throw Exception(FormatText(SCannotAccessDirectory, text::ShownName(FPath)));
    }
  }
  FTally.Began = true;
  FEnteredDirectories.clear();
  // The line-by-line reading reads and reports every line itself, so it
  // takes no answers from the workers.
  const unsigned workers = FSourceReading.LineByLine ? 0 : FReadThreads - 1;
  TReadAhead readAhead(workers, std::min(FSourceReading.HoldLimit, kReadAheadHoldLimit),
                       FSourceReading.BufferSize);
  const TReadAheadInUse inUse(FReadAhead, readAhead);
  if (FFileList) {
    ProcessListedFiles();
    return;
  }
  FSelection = FFileName;
  if (FFileName.empty()) {
    ProcessDirectory();
    return;
  }
  // Only these two substrings make a mask: "*x.pas" is a file name.
  const bool isMask =
      FFileName.find("*.") != std::string::npos || FFileName.find(".*") != std::string::npos;
  if (!FRecursive && !isMask) {
    // A named file outside a recursive walk is opened as it is: no line and
    // no test, so a missing file is reported by ProcessFile.
    ++FTally.Selected;
    try {
      ProcessFile();
    } catch (const ERefusal& refusal) {
      PassOver(refusal);
    }
    return;
  }
  platform::Directory top;
  if (!top.Open(FPath)) throw Exception(FormatText(SCannotAccessDirectory, text::ShownName(FPath)));
  SearchFiles(top, FPath, isMask);
}

void THistrel::ProcessDirectory() {
  platform::Directory top;
  if (!platform::IsDirectory(FPath) || !top.Open(FPath)) {
    throw Exception(FormatText(SCannotAccessDirectory, text::ShownName(FPath)));
  }
  // Every file of a whole directory is what an empty mask selects.
  SearchFiles(top, FPath, true);
}

void THistrel::ProcessListedFiles() {
  // Each file is opened as a file that FILE names outside a recursive walk,
  // by its path: a missing file, a directory or a link that is not
  // followed "cannot be edited", as there. Unlike that file, each is
  // announced, so that the output names what the list led to.
  for (const TListedFile& file : *FFileList) {
    if (!file.Nameable) {
      const std::string shown = text::ShownName(file.Path + file.FileName);
      PassOver(ERefusal(FormatText(SCannotEditFile, shown), FormatText(SReasonBackslash, shown)));
      continue;
    }
    if (platform::IsDirectory(file.Given)) {
      WalkListedDirectory(file.Given);
    } else {
      ProcessSource({nullptr, file.Path, file.FileName}, false);
    }
  }
}

void THistrel::WalkListedDirectory(const std::string& ADirectory) {
  platform::Directory top;
  if (!top.Open(ADirectory)) {
    throw Exception(FormatText(SCannotAccessDirectory, text::ShownName(ADirectory)));
  }
  // A directory holds more than sources (logs, notes, build files): a name
  // is taken by its extension, not by the substring test of a mask.
  FSelection.clear();
  FSelectByExtension = true;
  try {
    SearchFiles(top, ADirectory, true);
  } catch (...) {
    FSelectByExtension = false;
    throw;
  }
  FSelectByExtension = false;
}

void THistrel::PassOver(const ERefusal& ARefusal) {
  ++FTally.Refused;
  if (!FReportRefusal) throw ARefusal;
  FReportRefusal(ARefusal);
  // The failure that may end the run later is no longer this source's.
  FFailedSource.clear();
}

void THistrel::ProcessSource(const TSourceFile& ASource, bool AHoldsNoMarker) {
  ++FTally.Selected;
  FPath = ASource.Path;
  FFileName = ASource.Name;
  FRunKind->AnnounceFile(FPath, FFileName);
  // A worker read it whole and found no "CVS*": processing would end there.
  if (!AHoldsNoMarker) {
    try {
      ProcessFileIn(ASource.Directory);
    } catch (const ERefusal& refusal) {
      PassOver(refusal);
    }
  }
  if (FProgress) FProgress(FTally);
}

bool THistrel::HasSourceExtension(const std::string& AName) const {
  return std::any_of(
      FSourceExtensions.begin(), FSourceExtensions.end(), [&](const std::string& AExtension) {
        return AName.size() > AExtension.size() &&
               text::AnsiUpperCase(AName.substr(AName.size() - AExtension.size())) == AExtension;
      });
}

bool THistrel::MayEnter(const platform::Directory& ADirectory) {
  // Links may reach one directory many times (a cycle, or two links to
  // every level below): it is walked the first time only.
  const platform::FileIdentity& identity = ADirectory.Identity();
  return FEnteredDirectories.insert({identity.device, identity.inode}).second;
}

bool THistrel::CanBeNamed(const std::string& APath, const std::string& AName) const {
  // A backslash in a name would be read as a separator: "..\x.pas" names a
  // file outside the directory. Such an entry is neither taken nor entered.
  if (AName.find('\\') == std::string::npos) return true;
  platform::WriteErrorLine(FormatText(SBackslashNameSkipped, text::ShownName(APath + AName)));
  return false;
}

void THistrel::ListEntries(const platform::Directory& ADirectoryHandle,
                           const std::string& ADirectory,
                           std::vector<platform::DirectoryEntry>& AEntries) const {
  // A listing cut short would leave the rest of the tree alone without a
  // word; the run stops instead.
  if (!ADirectoryHandle.List(AEntries)) {
    throw Exception(FormatText(SCannotOpenDirectory, text::ShownName(ADirectory)));
  }
}

bool THistrel::OpenSubdirectory(platform::Directory& ASubdirectory,
                                const platform::Directory& AParent, const std::string& APath,
                                const std::string& AName) const {
  switch (ASubdirectory.OpenChild(AParent, AName)) {
    case platform::Directory::ChildStatus::kOpened:
      return true;
    case platform::Directory::ChildStatus::kNoDirectory:
      return false;
    case platform::Directory::ChildStatus::kFailed:
      break;
  }
  // Mostly a tree deeper than the descriptors the process may hold: one
  // directory of every level is open.
  throw Exception(FormatText(SCannotOpenDirectory, text::ShownName(APath + AName)));
}

// What the walk asks of the two kinds of run (uHistrelRunKind.h).

void THistrel::TRunInFiles::AnnounceFile(const std::string& APath, const std::string& AName) {
  // A name that holds a control character is quoted, so that it cannot act
  // on the terminal.
  FAnnounced.assign(APath).append(AName);
  if (text::HoldsControlCharacter(FAnnounced)) FAnnounced = text::CQuoted(FAnnounced);
  platform::WriteLine(FAnnounced);
}

// A preview names no file: its output is the diff or the notes.
void THistrel::TRunInPreview::AnnounceFile(const std::string& APath, const std::string& AName) {
  (void)APath;
  (void)AName;
}

// A preview writes nothing, not even to clear up after a killed run.
void THistrel::TRunInPreview::RemoveLeftovers(const platform::Directory& ADirectory,
                                              const std::string& APath,
                                              std::vector<platform::DirectoryEntry>& AEntries) {
  (void)ADirectory;
  (void)APath;
  (void)AEntries;
}

void THistrel::TRunInFiles::RemoveLeftovers(const platform::Directory& ADirectory,
                                            const std::string& APath,
                                            std::vector<platform::DirectoryEntry>& AEntries) {
  // Most directories hold no name that could be a temporary file.
  const auto isTemporaryName = [](const platform::DirectoryEntry& AEntry) {
    const std::string& name = AEntry.name;
    return name.size() >= LengthOf(kTemporaryExtension) &&
           name.compare(name.size() - LengthOf(kTemporaryExtension), LengthOf(kTemporaryExtension),
                        kTemporaryExtension) == 0;
  };
  if (std::none_of(AEntries.begin(), AEntries.end(), isTemporaryName)) return;
  std::unordered_set<std::string> removed;
  std::unordered_set<std::string> names;
  for (const platform::DirectoryEntry& entry : AEntries) names.insert(entry.name);
  for (const platform::DirectoryEntry& entry : AEntries) {
    const std::string temporary = TemporaryPathOf(entry.name);
    if (temporary == entry.name || names.count(temporary) == 0 || removed.count(temporary) != 0) {
      continue;
    }
    switch (platform::RemoveLeftoverTemporary(ADirectory, temporary, entry.name, ADirectory,
                                              entry.name + kLogExtension)) {
      case platform::LeftoverStatus::kRemoved:
        removed.insert(temporary);
        break;
      case platform::LeftoverStatus::kLogLocked: {
        const std::string shownLog = text::ShownName(APath + entry.name + kLogExtension);
        throw ERefusal(FormatText(SLogLocked, shownLog),
                       RefusalReason(platform::FileProblem::kLocked, shownLog));
      }
      case platform::LeftoverStatus::kKept:
        break;
    }
  }
  if (removed.empty()) return;
  AEntries.erase(std::remove_if(AEntries.begin(), AEntries.end(),
                                [&](const platform::DirectoryEntry& AEntry) {
                                  return removed.count(AEntry.name) != 0;
                                }),
                 AEntries.end());
}

void THistrel::SearchFiles(const platform::Directory& ADirectoryHandle,
                           const std::string& ADirectory, bool AWildcard) {
  // A copy: the first call is given FPath itself, which the walk rewrites.
  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
  const std::string directory = ADirectory;
  const std::string& mask = FSelection;
  // A mask is a substring test, not a pattern: "*.pas" selects every name
  // that contains ".PAS" in any letter case ("x.pascal", "old.pas.bak").
  std::string pattern;
  for (char c : mask) {
    if (c != '*') pattern += c;
  }
  const std::string upperPattern = text::AnsiUpperCase(pattern);
  bool namedFileProcessed = false;

  if (!MayEnter(ADirectoryHandle)) return;
  std::vector<platform::DirectoryEntry> entries;
  ListEntries(ADirectoryHandle, directory, entries);
  const std::string path = EndsWithBackslash(directory) ? directory : directory + "\\";
  FRunKind->RemoveLeftovers(ADirectoryHandle, path, entries);
  const auto selected = [&](const platform::DirectoryEntry& AEntry) {
    if (FSelectByExtension) return HasSourceExtension(AEntry.name);
    return upperPattern.empty() || FindAnsiText(AEntry.name, upperPattern) != std::string::npos;
  };
  // Only a mask selects many files of a listing; a named file is one.
  TReadAhead::TListing listing(FReadAhead, ADirectoryHandle);
  std::size_t asked = AWildcard ? 0 : entries.size();
  // Whether the named file is in this directory; it can only change when a
  // descent has run, so it is asked again only after one.
  int namedFileIsFile = -1;
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const platform::DirectoryEntry& entry = entries[index];
    if (listing.NeedsQuestions()) {
      for (; asked < entries.size() && listing.HasRoom(); ++asked) {
        if (MayBeAskedAbout(entries[asked]) && selected(entries[asked])) {
          listing.Ask(asked, entries[asked].name);
        }
      }
      listing.Send();
    }
    if (!CanBeNamed(path, entry.name)) continue;
    if (AWildcard && selected(entry) && EntryIsFile(entry, ADirectoryHandle)) {
      ProcessSource({&ADirectoryHandle, path, entry.name}, listing.HoldsNoMarker(index));
    }
    if (!AWildcard && !namedFileProcessed) {
      if (namedFileIsFile < 0) {
        namedFileIsFile = ADirectoryHandle.KindOf(mask) == platform::EntryKind::kFile;
      }
      if (namedFileIsFile == 1) {
        ProcessSource({&ADirectoryHandle, path, mask}, false);
        namedFileProcessed = true;
      }
    }
    if (FRecursive && !IsDotEntry(entry.name) && EntryMayBeDirectory(entry)) {
      platform::Directory subdirectory;
      if (OpenSubdirectory(subdirectory, ADirectoryHandle, path, entry.name)) {
        SearchFiles(subdirectory, path + entry.name, AWildcard);
        namedFileIsFile = -1;
      }
    }
  }
}
