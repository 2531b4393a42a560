#include "app/uHistrelReadAhead.h"

#include <atomic>
#include <system_error>
#include <utility>

#include "app/uHistrelInternal.h"
#include "base/Exception.h"
#include "platform/TextFile.h"

namespace {

// Questions a listing keeps open per worker: enough that a worker never runs
// dry while the walk handles the file before, few enough to bound the queue.
constexpr std::size_t kQuestionsPerWorker = 8;

}  // namespace

struct TReadAhead::TQuestion {
  // Who has it: a worker takes a queued question, the walk withdraws one
  // that no worker has taken; each by one exchange, so only one of them can.
  enum TState : int { kQueued, kTaken, kAnswered, kWithdrawn };
  const platform::Directory* Directory = nullptr;
  std::string Name;
  std::size_t Index = 0;
  std::atomic<int> State{kQueued};
  // Set before State becomes kAnswered.
  bool NoMarker = false;

  bool Withdraw() {
    int expected = kQueued;
    return State.compare_exchange_strong(expected, kWithdrawn);
  }
  bool Take() {
    int expected = kQueued;
    return State.compare_exchange_strong(expected, kTaken);
  }
};

TReadAhead::TReadAhead(unsigned AWorkers, std::size_t AHoldLimit, std::size_t ABufferSize)
    : FWorkerCount(AWorkers), FHoldLimit(AHoldLimit), FBufferSize(ABufferSize) {}

TReadAhead::~TReadAhead() {
  {
    const std::lock_guard<std::mutex> hold(FLock);
    FStopping = true;
  }
  FQueued.notify_all();
  for (std::thread& worker : FWorkers) worker.join();
}

void TReadAhead::Start() {
  // Threads are made only for a walk that asks: a run over one file or an
  // empty directory starts none.
  FWorkers.reserve(FWorkerCount);
  for (unsigned i = 0; i < FWorkerCount; ++i) {
    try {
      FWorkers.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // No room for one more thread (its stack is address space too): the
      // walk goes on with those there are, or reads every file itself.
      break;
    }
  }
  FWorkerCount = static_cast<unsigned>(FWorkers.size());
}

void TReadAhead::Work() {
  platform::TextReader reader;
  reader.SetBufferSize(FBufferSize);
  std::unique_lock<std::mutex> hold(FLock);
  for (;;) {
    ++FIdleWorkers;
    FQueued.wait(hold, [this] { return FStopping || !FQueue.empty(); });
    --FIdleWorkers;
    if (FStopping) return;
    const std::shared_ptr<TQuestion> question = std::move(FQueue.front());
    FQueue.pop_front();
    hold.unlock();
    if (question->Take()) Answer(*question, reader);
    hold.lock();
  }
}

void TReadAhead::Answer(TQuestion& AQuestion, platform::TextReader& AReader) {
  bool noMarker = false;
  // A link, a file that cannot be opened or read: the walk's own way
  // reports or follows it.
  try {
    noMarker = AReader.Open(*AQuestion.Directory, AQuestion.Name, FHoldLimit) &&
               !AReader.MayHold(histrel_internal::kNoteMarker);
  } catch (...) {
    noMarker = false;
  }
  AReader.Close();
  AQuestion.NoMarker = noMarker;
  AQuestion.State = TQuestion::kAnswered;
  if (FWalkWaits) {
    const std::lock_guard<std::mutex> wake(FLock);
    FAnswered.notify_all();
  }
}

void TReadAhead::AwaitAnswer(TQuestion& AQuestion) {
  if (AQuestion.State != TQuestion::kTaken) return;
  std::unique_lock<std::mutex> hold(FLock);
  FWalkWaits = true;
  FAnswered.wait(hold, [&] { return AQuestion.State != TQuestion::kTaken; });
  FWalkWaits = false;
}

TReadAhead::TListing::TListing(TReadAhead* AOwner, const platform::Directory& ADirectory)
    : FOwner(AOwner), FDirectory(ADirectory) {
  if (FOwner != nullptr) FReader.SetBufferSize(FOwner->FBufferSize);
}

TReadAhead::TListing::~TListing() {
  for (const std::shared_ptr<TQuestion>& question : FAsked) question->Withdraw();
  for (const std::shared_ptr<TQuestion>& question : FAsked) FOwner->AwaitAnswer(*question);
}

std::size_t TReadAhead::TListing::Limit() const {
  return FOwner == nullptr ? 0 : std::size_t{FOwner->FWorkerCount} * kQuestionsPerWorker;
}

bool TReadAhead::TListing::NeedsQuestions() const { return FAsked.size() < (Limit() + 1) / 2; }

bool TReadAhead::TListing::HasRoom() const { return FAsked.size() < Limit(); }

void TReadAhead::TListing::Ask(std::size_t AIndex, const std::string& AName) {
  auto question = std::make_shared<TQuestion>();
  question->Directory = &FDirectory;
  question->Name = AName;
  question->Index = AIndex;
  FAsked.push_back(question);
  FUnsent.push_back(std::move(question));
}

void TReadAhead::TListing::Send() {
  if (FUnsent.empty()) return;
  bool wake = false;
  {
    const std::lock_guard<std::mutex> hold(FOwner->FLock);
    if (FOwner->FWorkers.empty()) FOwner->Start();
    for (std::shared_ptr<TQuestion>& question : FUnsent) {
      FOwner->FQueue.push_back(std::move(question));
    }
    wake = FOwner->FIdleWorkers > 0;
  }
  FUnsent.clear();
  if (wake) FOwner->FQueued.notify_all();
}

bool TReadAhead::TListing::HoldsNoMarker(std::size_t AIndex) {
  // Questions about entries the walk has passed are of no more use.
  while (!FAsked.empty() && FAsked.front()->Index < AIndex) {
    if (!FAsked.front()->Withdraw()) FOwner->AwaitAnswer(*FAsked.front());
    FAsked.pop_front();
  }
  if (FAsked.empty() || FAsked.front()->Index != AIndex) return false;
  const std::shared_ptr<TQuestion> question = std::move(FAsked.front());
  FAsked.pop_front();
  if (question->Withdraw()) return false;
  // While a worker reads this file, the walk answers the next questions
  // itself rather than sleep: waking up costs more than a small file does.
  for (std::size_t next = 0; question->State == TQuestion::kTaken && next < FAsked.size(); ++next) {
    if (FAsked[next]->Take()) FOwner->Answer(*FAsked[next], FReader);
  }
  FOwner->AwaitAnswer(*question);
  return question->State == TQuestion::kAnswered && question->NoMarker;
}
