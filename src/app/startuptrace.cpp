#include "app/startuptrace.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

void MarkStartup(const char* stage) {
  static const bool enabled = [] {
    const char* value = std::getenv("PUNCHLET_STARTUP_TRACE");
    return value != nullptr && *value != '\0';
  }();
  if (!enabled) return;
  const auto read = [](clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  };
  // The process's CPU time so far tells what the loader took before main.
  std::fprintf(stderr, "punchlet-startup %lld %lld %s\n", read(CLOCK_MONOTONIC),
               read(CLOCK_PROCESS_CPUTIME_ID), stage);
}
