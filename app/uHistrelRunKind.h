// The two kinds of run of the history worker, THistrel: one writes the files,
// the other hands what it would write to a preview. THistrel chooses one when
// its output is given, so that neither its walk nor its rewrite asks which
// runs; only the units of THistrel include this.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/uHistrel.h"
#include "platform/FileSystem.h"

// What a run does besides reading: the walk (uHistrelWalk) asks it to
// announce each file and to clear what killed runs left, the rewrite
// (uHistrelRewrite) where the new text goes and who takes the notes.
class THistrel::TRunKind {
 public:
  virtual ~TRunKind() = default;
  // Says that the file AName of the directory APath is about to be
  // processed.
  virtual void AnnounceFile(const std::string& APath, const std::string& AName) = 0;
  // Removes from the listing of ADirectory, shown as APath (with its last
  // backslash), and from the disk the temporary files that a killed run
  // left beside their sources.
  virtual void RemoveLeftovers(const platform::Directory& ADirectory, const std::string& APath,
                               std::vector<platform::DirectoryEntry>& AEntries) = 0;
  // The output that takes each note of a source (THistrelOutput::NoteRead),
  // or nullptr.
  virtual THistrelOutput* NoteTaker() = 0;
  // Where RewriteFile writes the new text of the source that APlace
  // describes.
  virtual std::unique_ptr<TNewText> NewText(THistrel& AWorker, const TRewritePlace& APlace) = 0;
  // The source shown as AShown (or its log) cannot be replaced, for
  // ARefusal's reason: a run throws ARefusal; a preview warns and goes on.
  virtual void CannotReplace(const std::string& AShown, const ERefusal& ARefusal) = 0;
};

// A run: each file is named on standard output, leftovers of killed runs
// are cleared, sources are replaced and logs appended.
class THistrel::TRunInFiles final : public THistrel::TRunKind {
 public:
  void AnnounceFile(const std::string& APath, const std::string& AName) override;
  void RemoveLeftovers(const platform::Directory& ADirectory, const std::string& APath,
                       std::vector<platform::DirectoryEntry>& AEntries) override;
  THistrelOutput* NoteTaker() override { return nullptr; }
  std::unique_ptr<TNewText> NewText(THistrel& AWorker, const TRewritePlace& APlace) override;
  [[noreturn]] void CannotReplace(const std::string& AShown, const ERefusal& ARefusal) override;

 private:
  // The path announced, kept from file to file: a walk announces every
  // file it selects.
  std::string FAnnounced;
};

// A preview: the output takes what the rewrite makes, and nothing is
// written (no file named on standard output, no leftover cleared, no
// temporary file, no source, no log).
class THistrel::TRunInPreview final : public THistrel::TRunKind {
 public:
  explicit TRunInPreview(THistrelOutput& AOutput) : FOutput(AOutput) {}
  void AnnounceFile(const std::string& APath, const std::string& AName) override;
  void RemoveLeftovers(const platform::Directory& ADirectory, const std::string& APath,
                       std::vector<platform::DirectoryEntry>& AEntries) override;
  THistrelOutput* NoteTaker() override { return FOutput.TakesNotes() ? &FOutput : nullptr; }
  std::unique_ptr<TNewText> NewText(THistrel& AWorker, const TRewritePlace& APlace) override;
  void CannotReplace(const std::string& AShown, const ERefusal& ARefusal) override;

 private:
  THistrelOutput& FOutput;
};
