#include "imaging/memorybudget.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
thread_local TMemoryBudget* currentBudget = nullptr;
}  // namespace

size_t TMemoryBudget::DefaultBytes() {
  size_t megabytes = DefaultMegabytes;
  if (const char* text = std::getenv("PUNCHLET_MEMORY_MB")) {
    size_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, value);
    if (error == std::errc() && last == end && value > 0) megabytes = value;
  }
  return std::min(megabytes, std::numeric_limits<size_t>::max() >> 20) << 20;
}

void TMemoryBudget::Reserve(size_t bytes) {
  std::unique_lock lock(FMutex);
  const uint64_t ticket = FNextTicket++;
  FFreed.wait(lock, [&] {
    return ticket == FServing &&
           (FReserved == 0 || bytes <= FCapacity - std::min(FReserved, FCapacity));
  });
  FReserved += bytes;
  FPeak = std::max(FPeak, FReserved);
  ++FServing;
  lock.unlock();
  FFreed.notify_all();  // the next in line may fit too
}

void TMemoryBudget::Release(size_t bytes) {
  {
    std::lock_guard lock(FMutex);
    FReserved -= std::min(bytes, FReserved);
  }
  FFreed.notify_all();
}

size_t TMemoryBudget::Reserved() const {
  std::lock_guard lock(FMutex);
  return FReserved;
}

size_t TMemoryBudget::Peak() const {
  std::lock_guard lock(FMutex);
  return FPeak;
}

size_t TMemoryBudget::Waiting() const {
  std::lock_guard lock(FMutex);
  return static_cast<size_t>(FNextTicket - FServing);
}

TMemoryBudget* TMemoryBudget::Current() { return currentBudget; }

TMemoryBudget::TUse::TUse(TMemoryBudget& budget) : FPrevious(currentBudget) {
  currentBudget = &budget;
}

TMemoryBudget::TUse::~TUse() { currentBudget = FPrevious; }
