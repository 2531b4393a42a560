#include "app/uHistrelPreview.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <unordered_map>

#include "platform/FileSystem.h"
#include "text/ShownName.h"

namespace {

constexpr std::size_t kContext = 3;
// Beyond this many changed lines between the common head and tail of two
// texts, the changed part becomes one block (all of it removed, all of it
// added): still exact, and the search stays small (its memory grows with
// the square of this number).
constexpr long kMaxEdits = 2000;

enum class TEdit : char { kKeep, kDelete, kInsert };

// A text cut into lines after each LF; a last line without LF is a line.
std::vector<std::string_view> SplitAfterLf(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// Myers' greedy search for the fewest edits that turn AOld into ANew (line
// numbers that are equal exactly when the lines are), appended to AEdits;
// past kMaxEdits every old line is deleted and every new one inserted.
void AppendEdits(const std::vector<int>& AOld, const std::vector<int>& ANew,
                 std::vector<TEdit>& AEdits) {
  const long n = static_cast<long>(AOld.size());
  const long m = static_cast<long>(ANew.size());
  const long limit = std::min(n + m, kMaxEdits);
  std::vector<long> v(static_cast<std::size_t>(2 * limit + 3), 0);
  const long offset = limit + 1;
  const auto at = [&](long k) -> long& { return v[static_cast<std::size_t>(k + offset)]; };
  // trace[d] holds the furthest x of every diagonal -d..d after d edits.
  std::vector<std::vector<long>> trace;
  long found = -1;
  for (long d = 0; d <= limit && found < 0; ++d) {
    for (long k = -d; k <= d; k += 2) {
      long x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
      long y = x - k;
      while (x < n && y < m &&
             AOld[static_cast<std::size_t>(x)] == ANew[static_cast<std::size_t>(y)]) {
        ++x;
        ++y;
      }
      at(k) = x;
      if (k == n - m && x >= n) found = d;
    }
    trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
  }
  const auto replaceAll = [&] {
    AEdits.insert(AEdits.end(), static_cast<std::size_t>(n), TEdit::kDelete);
    AEdits.insert(AEdits.end(), static_cast<std::size_t>(m), TEdit::kInsert);
  };
  if (found < 0) return replaceAll();
  std::vector<TEdit> reversed;
  long x = n;
  long y = m;
  for (long d = found; d > 0; --d) {
    const std::vector<long>& before = trace[static_cast<std::size_t>(d - 1)];
    const auto prior = [&](long k) { return before[static_cast<std::size_t>(k + d - 1)]; };
    const long k = x - y;
    const bool down = k == -d || (k != d && prior(k - 1) < prior(k + 1));
    const long priorK = down ? k + 1 : k - 1;
    const long priorX = prior(priorK);
    const long priorY = priorX - priorK;
    for (; x > priorX && y > priorY; --x, --y) reversed.push_back(TEdit::kKeep);
    reversed.push_back(down ? TEdit::kInsert : TEdit::kDelete);
    x = priorX;
    y = priorY;
  }
  for (; x > 0 && y > 0; --x, --y) reversed.push_back(TEdit::kKeep);
  // The edits must turn the one side into the other exactly; a search that
  // strayed beyond the ends of the texts is not trusted.
  long oldLine = 0;
  long newLine = 0;
  for (auto edit = reversed.rbegin(); edit != reversed.rend(); ++edit) {
    if (*edit == TEdit::kKeep &&
        (oldLine >= n || newLine >= m ||
         AOld[static_cast<std::size_t>(oldLine)] != ANew[static_cast<std::size_t>(newLine)])) {
      return replaceAll();
    }
    if (*edit != TEdit::kInsert) ++oldLine;
    if (*edit != TEdit::kDelete) ++newLine;
  }
  if (oldLine != n || newLine != m) return replaceAll();
  AEdits.insert(AEdits.end(), reversed.rbegin(), reversed.rend());
}

// "start,count" of a hunk's side; "start" alone for one line, and the line
// before the place for none, as diff writes them.
std::string HunkRange(std::size_t AFirst, std::size_t ACount) {
  if (ACount == 0) return std::to_string(AFirst) + ",0";
  if (ACount == 1) return std::to_string(AFirst + 1);
  return std::to_string(AFirst + 1) + "," + std::to_string(ACount);
}

void WriteLine(const TDiffLineWriter& AWriteLine, std::string_view APrefix,
               std::string_view ALine) {
  const bool ended = !ALine.empty() && ALine.back() == '\n';
  if (ended) ALine.remove_suffix(1);
  AWriteLine(APrefix, ALine);
  if (!ended) AWriteLine("\\ No newline at end of file", "");
}

// The start of the line that holds the byte at AAt (AAt itself when it
// follows an LF).
std::size_t LineStart(std::string_view AText, std::size_t AAt) {
  const std::size_t lf = AText.substr(0, AAt).rfind('\n');
  return lf == std::string_view::npos ? 0 : lf + 1;
}

// A name as git writes it in a diff: in double quotes, with C escapes, when
// it holds a quote, a backslash, a control character or a byte above 127.
std::string GitName(const std::string& AName) {
  bool plain = true;
  for (const char c : AName) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || c == '"' || c == '\\') plain = false;
  }
  return plain ? AName : text::CQuoted(AName, text::HighBytes::kEscaped);
}

}  // namespace

void WriteUnifiedHunks(std::string_view ABefore, std::string_view AAfter,
                       const TDiffLineWriter& AWriteLine) {
  // The whole lines that both texts begin with, and those they end with,
  // found in bytes: only kContext of each are cut into lines, beside what
  // lies between them.
  const std::size_t shorter = std::min(ABefore.size(), AAfter.size());
  std::size_t same = 0;
  constexpr std::size_t kBlock = 4096;
  while (same + kBlock <= shorter &&
         std::memcmp(ABefore.data() + same, AAfter.data() + same, kBlock) == 0) {
    same += kBlock;
  }
  while (same < shorter && ABefore[same] == AAfter[same]) ++same;
  if (same == ABefore.size() && same == AAfter.size()) return;
  const std::size_t headEnd = LineStart(ABefore, same);
  std::size_t sameEnd = 0;
  while (sameEnd < shorter - headEnd &&
         ABefore[ABefore.size() - 1 - sameEnd] == AAfter[AAfter.size() - 1 - sameEnd]) {
    ++sameEnd;
  }
  // The tail begins at the first place in the common end that begins a
  // line in both texts.
  const std::size_t shift = AAfter.size() - ABefore.size();  // modulo, like the offsets
  std::size_t tailStart = ABefore.size() - sameEnd;
  if (LineStart(ABefore, tailStart) != tailStart ||
      LineStart(AAfter, tailStart + shift) != tailStart + shift) {
    const std::size_t lf = ABefore.find('\n', tailStart);
    tailStart = lf == std::string_view::npos ? ABefore.size() : lf + 1;
  }
  std::size_t from = headEnd;
  for (std::size_t k = 0; k < kContext && from > 0; ++k) from = LineStart(ABefore, from - 1);
  std::size_t to = tailStart;
  for (std::size_t k = 0; k < kContext && to < ABefore.size(); ++k) {
    const std::size_t lf = ABefore.find('\n', to);
    to = lf == std::string_view::npos ? ABefore.size() : lf + 1;
  }
  // The lines passed over before from, the same in both texts.
  const std::size_t skipped =
      static_cast<std::size_t>(std::count(ABefore.begin(), ABefore.begin() + from, '\n'));
  const std::vector<std::string_view> before = SplitAfterLf(ABefore.substr(from, to - from));
  const std::vector<std::string_view> after = SplitAfterLf(AAfter.substr(from, to + shift - from));

  // The common head and tail left (the context taken) are kept as they
  // are; only what lies between them is searched.
  std::size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }

  std::vector<TEdit> edits(head, TEdit::kKeep);
  const std::size_t oldCount = before.size() - head - tail;
  const std::size_t newCount = after.size() - head - tail;
  if (std::max(oldCount, newCount) - std::min(oldCount, newCount) >
      static_cast<std::size_t>(kMaxEdits)) {
    // More edits than the search follows in any case (a long note's entry
    // alone may have millions of lines): one block, without numbering them.
    edits.insert(edits.end(), oldCount, TEdit::kDelete);
    edits.insert(edits.end(), newCount, TEdit::kInsert);
  } else {
    std::unordered_map<std::string_view, int> numbers;
    const auto numbered = [&](const std::vector<std::string_view>& ALines) {
      std::vector<int> result;
      for (std::size_t i = head; i < ALines.size() - tail; ++i) {
        result.push_back(
            numbers.emplace(ALines[i], static_cast<int>(numbers.size())).first->second);
      }
      return result;
    };
    const std::vector<int> oldMiddle = numbered(before);
    const std::vector<int> newMiddle = numbered(after);
    AppendEdits(oldMiddle, newMiddle, edits);
  }
  edits.insert(edits.end(), tail, TEdit::kKeep);

  std::size_t i = 0;
  // The line of each side at which edit i stands.
  std::size_t oldLine = 0;
  std::size_t newLine = 0;
  while (i < edits.size()) {
    for (; i < edits.size() && edits[i] == TEdit::kKeep; ++i) {
      ++oldLine;
      ++newLine;
    }
    if (i == edits.size()) break;
    // One hunk: changes whose kept lines between them are few enough that
    // their context would meet.
    const std::size_t context = std::min(i, kContext);
    const std::size_t first = i - context;
    std::size_t last = i;  // one past the last change of the hunk
    for (std::size_t j = i; j < edits.size(); ++j) {
      if (edits[j] != TEdit::kKeep) {
        last = j + 1;
      } else if (j - last >= 2 * kContext) {
        break;
      }
    }
    const std::size_t end = std::min(edits.size(), last + kContext);
    std::size_t oldLines = 0;
    std::size_t newLines = 0;
    for (std::size_t j = first; j < end; ++j) {
      if (edits[j] != TEdit::kInsert) ++oldLines;
      if (edits[j] != TEdit::kDelete) ++newLines;
    }
    oldLine -= context;
    newLine -= context;
    AWriteLine("@@ -" + HunkRange(skipped + oldLine, oldLines) + " +" +
                   HunkRange(skipped + newLine, newLines) + " @@",
               "");
    for (std::size_t j = first; j < end; ++j) {
      switch (edits[j]) {
        case TEdit::kKeep:
          WriteLine(AWriteLine, " ", before[oldLine++]);
          ++newLine;
          break;
        case TEdit::kDelete:
          WriteLine(AWriteLine, "-", before[oldLine++]);
          break;
        case TEdit::kInsert:
          WriteLine(AWriteLine, "+", after[newLine++]);
          break;
      }
    }
    i = end;
  }
}

std::vector<std::string> UnifiedHunks(const std::string& ABefore, const std::string& AAfter) {
  std::vector<std::string> lines;
  WriteUnifiedHunks(ABefore, AAfter, [&](std::string_view AHead, std::string_view AText) {
    lines.push_back(std::string(AHead).append(AText));
  });
  return lines;
}

std::string PathFromCurrentDirectory(const std::string& APath) {
  namespace fs = std::filesystem;
  const fs::path path(platform::NativePath(APath));
  std::error_code failed;
  const fs::path current = fs::current_path(failed);
  if (failed) return path.lexically_normal().generic_string();
  const fs::path absolute = (path.is_absolute() ? path : current / path).lexically_normal();
  const fs::path relative = absolute.lexically_relative(current.lexically_normal());
  return (relative.empty() ? absolute : relative).generic_string();
}

THistrelPreview::TFile& THistrelPreview::Known(const std::string& APath, bool AExists,
                                               std::string ABefore) {
  const std::string name = PathFromCurrentDirectory(APath);
  const auto found = FFiles.find(name);
  if (found != FFiles.end()) return found->second;
  TFile& file = FFiles[name];
  FOrder.push_back(name);
  file.Existed = AExists;
  file.Before = std::move(ABefore);
  return file;
}

void THistrelPreview::SourceRead(const std::string& ATarget, std::string&& AText) {
  if (FKeepsTexts) Known(ATarget, true, std::move(AText));
}

void THistrelPreview::LogRead(const std::string& ALog, bool AExists, unsigned ANewMode,
                              std::string&& AText) {
  if (!FKeepsTexts) return;
  TFile& file = Known(ALog, AExists, std::move(AText));
  if (!file.Existed) file.NewMode = ANewMode;
}

std::string NoteLine(const std::string& APath, std::uint64_t ALine, const std::string& AText,
                     bool ACut) {
  std::string line = text::ShownName(PathFromCurrentDirectory(APath));
  line.append(":").append(std::to_string(ALine)).append(": ").append(text::ShownName(AText));
  if (ACut) line += "...";
  return line;
}

void THistrelPreview::NoteRead(bool AFirst, std::uint64_t ALine, std::string&& AText, bool ACut) {
  if (AFirst) FNotes.clear();
  FNotes.push_back({ALine, std::move(AText), ACut});
}

void THistrelPreview::SourceRewritten(const std::string& ASource, const std::string& ATarget,
                                      std::string&& ANewText) {
  FSources.push_back(PathFromCurrentDirectory(ASource));
  if (FWriteNoteLine) {
    for (const TNote& note : FNotes) {
      FWriteNoteLine(NoteLine(ASource, note.Line, note.Text, note.Cut));
    }
    FNotes.clear();
  }
  if (!FKeepsTexts) return;
  TFile& file = Known(ATarget);
  file.After = std::move(ANewText);
  file.Changed = true;
}

std::vector<std::string> THistrelPreview::Sources() const {
  // A name holding a control character would act on the terminal.
  std::vector<std::string> shown;
  shown.reserve(FSources.size());
  for (const std::string& source : FSources) shown.push_back(text::ShownName(source));
  return shown;
}

void THistrelPreview::LogAppended(const std::string& ALog, std::string&& ALines) {
  if (!FKeepsTexts) return;
  TFile& file = Known(ALog);
  if (!file.Changed) {
    file.Changed = true;
    if (file.Before.empty()) {
      file.After = std::move(ALines);
      return;
    }
    file.After.reserve(file.Before.size() + ALines.size());
    file.After = file.Before;
  }
  file.After += ALines;
}

void THistrelPreview::WriteDiff(const TDiffLineWriter& AWriteLine) const {
  for (const std::string& name : FOrder) {
    const TFile& file = FFiles.at(name);
    const std::string oldName = GitName("a/" + name);
    const std::string newName = GitName("b/" + name);
    // The header comes with the first hunk: a file whose texts are equal
    // has none. A new file has it all the same; an empty one is named by its
    // first lines alone.
    const auto writeHeader = [&](bool AWithHunks) {
      std::string line = "diff --git ";
      AWriteLine(line.append(oldName).append(" ").append(newName), "");
      if (!file.Existed) {
        char mode[32];
        std::snprintf(mode, sizeof mode, "new file mode 100%03o", file.NewMode & 0777U);
        AWriteLine(mode, "");
      }
      if (!AWithHunks) return;
      AWriteLine("--- " + (file.Existed ? oldName : std::string("/dev/null")), "");
      AWriteLine("+++ " + newName, "");
    };
    bool headed = false;
    WriteUnifiedHunks(file.Before, file.Final(),
                      [&](std::string_view AHead, std::string_view AText) {
                        if (!headed) writeHeader(true);
                        headed = true;
                        AWriteLine(AHead, AText);
                      });
    if (!headed && !file.Existed) writeHeader(false);
  }
}

std::vector<std::string> THistrelPreview::DiffLines() const {
  std::vector<std::string> lines;
  WriteDiff([&](std::string_view AHead, std::string_view AText) {
    lines.push_back(std::string(AHead).append(AText));
  });
  return lines;
}
