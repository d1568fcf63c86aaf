// Waiting in tests for what other threads do, without a fixed sleep: a loaded
// machine is slow, never wrong.
#pragma once

#include <chrono>
#include <thread>

// Waits without running any event loop, as a thread busy with its own work
// does, until done() holds; false after a generous time.
template <class Done>
bool WaitBusy(Done done) {
  for (int i = 0; i < 20000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}
