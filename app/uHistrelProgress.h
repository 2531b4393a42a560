// What a run shows of itself on standard error: while it lasts, a progress
// line on a terminal; at its end, one summary line.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/uHistrel.h"

// The summary line of a run ("histrel: 3 sources selected, 1 rewritten,
// 2 notes collected, 0 refused"); APreview: of --diff or --check, which
// count what a run would do.
std::string HistrelSummaryLine(const THistrel::TTally& ATally, bool APreview);

// The progress line ("histrel: 12000 sources scanned, 40 rewritten").
std::string HistrelProgressLine(const THistrel::TTally& ATally, bool APreview);

// Draws the progress line of a run once it has lasted a second, redrawn at
// most ten times a second, and removes it at the end.
class THistrelProgress {
 public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;
  // AShow false: never draws (no terminal, --quiet). ADraw shows a line in
  // place of the last one, or removes it for an empty text.
  THistrelProgress(bool AShow, bool APreview,
                   std::function<void(const std::string&)> ADraw = DrawOnStandardError,
                   TClock AClock = std::chrono::steady_clock::now);
  ~THistrelProgress();
  THistrelProgress(const THistrelProgress&) = delete;
  THistrelProgress& operator=(const THistrelProgress&) = delete;

  // The worker's tally after another source: redraws when a line is due.
  void Update(const THistrel::TTally& ATally);
  // Removes the line, if one was drawn.
  void Finish();

  // The status line of standard error (platform::ShowStatusLine).
  static void DrawOnStandardError(const std::string& AText);

 private:
  bool FShow;
  bool FPreview;
  bool FDrawn = false;
  std::function<void(const std::string&)> FDraw;
  TClock FClock;
  std::chrono::steady_clock::time_point FDue;
};
