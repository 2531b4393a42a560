#include "app/uHistrelProgress.h"

#include <utility>

#include "platform/Console.h"

namespace {

using std::chrono::milliseconds;

// A run shorter than this shows no progress at all.
constexpr milliseconds kQuietStart{1000};
// At most ten lines a second: more would cost the terminal, not tell more.
constexpr milliseconds kRedrawEvery{100};

// "1 source", "2 sources".
std::string Counted(std::uint64_t ACount, const char* AOne, const char* AMany) {
  return std::to_string(ACount) + " " + (ACount == 1 ? AOne : AMany);
}

}  // namespace

std::string HistrelSummaryLine(const THistrel::TTally& ATally, bool APreview) {
  return "histrel: " + Counted(ATally.Selected, "source", "sources") + " selected, " +
         std::to_string(ATally.Rewritten) + (APreview ? " to rewrite, " : " rewritten, ") +
         Counted(ATally.Notes, "note", "notes") + (APreview ? " to collect, " : " collected, ") +
         std::to_string(ATally.Refused) + " refused";
}

std::string HistrelProgressLine(const THistrel::TTally& ATally, bool APreview) {
  return "histrel: " + Counted(ATally.Selected, "source", "sources") + " scanned, " +
         std::to_string(ATally.Rewritten) + (APreview ? " to rewrite" : " rewritten");
}

THistrelProgress::THistrelProgress(bool AShow, bool APreview,
                                   std::function<void(const std::string&)> ADraw, TClock AClock)
    : FShow(AShow), FPreview(APreview), FDraw(std::move(ADraw)), FClock(std::move(AClock)) {
  if (FShow) FDue = FClock() + kQuietStart;
}

THistrelProgress::~THistrelProgress() { Finish(); }

void THistrelProgress::Update(const THistrel::TTally& ATally) {
  if (!FShow) return;
  const auto now = FClock();
  if (now < FDue) return;
  FDraw(HistrelProgressLine(ATally, FPreview));
  FDrawn = true;
  FDue = now + kRedrawEvery;
}

void THistrelProgress::Finish() {
  if (!FDrawn) return;
  FDraw("");
  FDrawn = false;
}

void THistrelProgress::DrawOnStandardError(const std::string& AText) {
  if (AText.empty()) {
    platform::ClearStatusLine();
  } else {
    platform::ShowStatusLine(AText);
  }
}
