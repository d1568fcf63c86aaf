// TMemoryBudget: the bytes of decoded pictures that a batch's workers may hold
// at once. A hostile header can claim a huge picture; with one budget shared by
// all workers, such files cost the budget, not the budget times the workers.
//
// A reader reserves a decoded picture's bytes before it allocates them
// (Picture::CreateDecoded), from the budget installed on its thread, and the
// reservation ends when those bytes are freed. Only decode buffers count:
// what a worker hands on is small and never holds a reservation, so a worker
// never waits for memory that a result waiting to be published holds.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

class TMemoryBudget {
 public:
  static constexpr size_t DefaultMegabytes = 1024;

  explicit TMemoryBudget(size_t bytes) : FCapacity(bytes) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  // PUNCHLET_MEMORY_MB when it holds a positive number, else DefaultMegabytes.
  static size_t DefaultBytes();

  size_t Capacity() const { return FCapacity; }

  // Waits until `bytes` fit beside what is reserved. Callers are served in
  // the order they came, so a large picture is not overtaken for ever; one
  // larger than the whole budget waits until nothing else is reserved and
  // then runs alone.
  void Reserve(size_t bytes);
  void Release(size_t bytes);

  // For the batch's figures and tests: reserved now, the most ever reserved
  // at once, and how many callers wait.
  size_t Reserved() const;
  size_t Peak() const;
  size_t Waiting() const;

  // The budget of the calling thread's decoded pictures; none: no limit.
  static TMemoryBudget* Current();

  // Installs a budget on the calling thread for its lifetime.
  class TUse {
   public:
    explicit TUse(TMemoryBudget& budget);
    ~TUse();
    TUse(const TUse&) = delete;
    TUse& operator=(const TUse&) = delete;

   private:
    TMemoryBudget* FPrevious;
  };

 private:
  const size_t FCapacity;
  mutable std::mutex FMutex;
  std::condition_variable FFreed;
  size_t FReserved = 0;
  size_t FPeak = 0;
  uint64_t FNextTicket = 0;
  uint64_t FServing = 0;
};
