// Start-up timing for the benchmark. With PUNCHLET_STARTUP_TRACE set, each
// mark writes "punchlet-startup <ns> <cpu ns> <stage>" to stderr: the
// monotonic clock and the process's CPU time so far. The CPU time at the first
// mark is what loading the program took before main.
#pragma once

void MarkStartup(const char* stage);
