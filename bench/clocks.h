// The clocks the benchmarks read: wall seconds, and the CPU seconds of all
// the process's threads (which other load on a shared machine inflates far
// less than the wall time).
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

inline double now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double cpu_now() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec) + u.ru_utime.tv_usec * 1e-6 +
         double(u.ru_stime.tv_sec) + u.ru_stime.tv_usec * 1e-6;
}

// The seconds a command (a peer's timing script) prints, or -1 when it
// cannot run or prints none.
inline double command_seconds(const char *command) {
  FILE *p = popen(command, "r");
  if (!p) return -1.0;
  double seconds = -1.0;
  if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1.0;
  if (pclose(p) != 0) return -1.0;
  return seconds;
}
