// Reading ahead of the walk: worker threads open the next files of a
// listing and answer whether each may hold a marked comment, while the walk
// announces, collects and rewrites in listing order on its own thread.
// The workers only read; a file they cannot clear, or cannot read, goes the
// walk's usual way, so its outcome and messages are those of a walk alone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TextFile.h"

class TReadAhead {
 public:
  struct TQuestion;

  // AWorkers threads (0: none, every answer is "may hold"), each reading a
  // source of up to AHoldLimit bytes at once and a larger one in pieces of
  // ABufferSize. The threads start with the first question.
  TReadAhead(unsigned AWorkers, std::size_t AHoldLimit, std::size_t ABufferSize);
  // Stops and joins the workers; every TListing must be gone before.
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The questions about the files of one listing of ADirectory, asked in
  // listing order. Its end withdraws what no worker has taken yet and waits
  // for what they are answering, so ADirectory may go right after it.
  class TListing {
   public:
    // AOwner nullptr: no questions are asked.
    TListing(TReadAhead* AOwner, const platform::Directory& ADirectory);
    ~TListing();
    TListing(const TListing&) = delete;
    TListing& operator=(const TListing&) = delete;

    // Whether the walk should ask about the next entries now: when half of
    // the questions a listing keeps open are answered. Asking in batches
    // takes the queue's lock once per batch.
    bool NeedsQuestions() const;
    // Whether one more question may be asked: a listing keeps only a few
    // open, so the queue stays short however long the listing is.
    bool HasRoom() const;
    // Notes a question about the entry at AIndex, named AName (indexes
    // rising); Send hands the noted ones to the workers.
    void Ask(std::size_t AIndex, const std::string& AName);
    void Send();
    // True when a worker read the whole file at AIndex and found no "CVS*"
    // in it; false when it was not asked, not answered yet (the question is
    // then withdrawn: the walk does the work itself rather than wait for a
    // worker that has not started), or may hold one, or could not be read.
    bool HoldsNoMarker(std::size_t AIndex);

   private:
    TReadAhead* FOwner;
    const platform::Directory& FDirectory;
    std::size_t Limit() const;

    std::deque<std::shared_ptr<TQuestion>> FAsked;
    std::vector<std::shared_ptr<TQuestion>> FUnsent;
    // Reads for the walk's thread when it answers a question itself.
    platform::TextReader FReader;
  };

 private:
  void Start();
  void Work();
  // Answers a question taken by this thread, reading with AReader.
  void Answer(TQuestion& AQuestion, platform::TextReader& AReader);
  // Waits until no worker is answering AQuestion.
  void AwaitAnswer(TQuestion& AQuestion);

  unsigned FWorkerCount;
  std::size_t FHoldLimit;
  std::size_t FBufferSize;
  std::vector<std::thread> FWorkers;
  std::mutex FLock;
  std::condition_variable FQueued;
  std::condition_variable FAnswered;
  std::deque<std::shared_ptr<TQuestion>> FQueue;
  bool FStopping = false;
  // Who waits, so that a wake-up is sent only to someone who sleeps: most
  // questions are asked while the workers are busy, and most answers come
  // before the walk needs them.
  unsigned FIdleWorkers = 0;
  std::atomic<bool> FWalkWaits{false};
};
