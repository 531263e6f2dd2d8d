// What shrink_once and simdjson_once share: the process's peak resident
// size, and the timing of one first call followed by optional warm ones, in
// wall time and in the process's CPU time (the latter barely moves when other
// programs compete for the cores).
#ifndef QUENDRA_BENCH_ONCE_H_
#define QUENDRA_BENCH_ONCE_H_

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quendra::bench {

// The process's peak resident size in KiB: VmHWM, which unlike getrusage's
// ru_maxrss does not carry over the peak of the process that exec'd this one
// (a Python runner's own 15 MB would otherwise be the floor of every figure).
inline long peak_kb() {
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    long kb = -1;
    while (kb < 0 && std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
    }
    std::fclose(f);
    if (kb >= 0) return kb;
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Runs `measure` in a child process, so that the peak resident size it
// sees is its own, and returns the figures it gives back through a pipe (a
// default Figures when the child fails). Figures must be trivially copyable.
template <typename Figures, typename Measure>
Figures in_child(Measure measure) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Figures f = measure();
    if (write(fds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) std::_Exit(1);
    std::_Exit(0);
  }
  close(fds[1]);
  Figures f;
  if (read(fds[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) f = Figures{};
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return f;
}

// Wall and CPU seconds.
struct Stamp {
  double wall = 0;
  double cpu = 0;

  static Stamp now() {
    timespec w{}, c{};
    clock_gettime(CLOCK_MONOTONIC, &w);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c);
    return {static_cast<double>(w.tv_sec) + static_cast<double>(w.tv_nsec) * 1e-9,
            static_cast<double>(c.tv_sec) + static_cast<double>(c.tv_nsec) * 1e-9};
  }
  Stamp operator-(const Stamp& o) const { return {wall - o.wall, cpu - o.cpu}; }
};

struct Timing {
  Stamp first;                // the first call
  long warm_calls = 0;        // the calls after it
  Stamp warm_mean, warm_min;  // per call: over all of them, and the best batch
};

// Times `call()` once, then for about `warm_seconds` more in batches of at
// least a millisecond (so that reading the clocks costs little beside a call
// of a few microseconds; the batch size doubles from 1 until it gets there).
// Each such batch's mean per call is one sample of warm_min.
template <typename Call>
Timing time_calls(Call call, double warm_seconds) {
  Timing t;
  Stamp t0 = Stamp::now();
  call();
  t.first = Stamp::now() - t0;
  Stamp total;
  long batch = 1, samples = 0;
  while (warm_seconds > 0 && (samples == 0 || total.wall < warm_seconds)) {
    t0 = Stamp::now();
    for (long i = 0; i < batch; ++i) call();
    const Stamp d = Stamp::now() - t0;
    total.wall += d.wall;
    total.cpu += d.cpu;
    t.warm_calls += batch;
    if (d.wall < 1e-3) {
      batch *= 2;
      continue;
    }
    const Stamp mean{d.wall / static_cast<double>(batch), d.cpu / static_cast<double>(batch)};
    t.warm_min = samples++ == 0 ? mean
                                : Stamp{std::min(t.warm_min.wall, mean.wall),
                                        std::min(t.warm_min.cpu, mean.cpu)};
  }
  if (t.warm_calls) {
    const auto n = static_cast<double>(t.warm_calls);
    t.warm_mean = {total.wall / n, total.cpu / n};
  }
  return t;
}

// The timing as JSON members, without braces.
inline std::string timing_json(const Timing& t) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "\"first_s\":%.9f,\"first_cpu_s\":%.9f,\"warm_calls\":%ld,"
                "\"warm_mean_s\":%.9f,\"warm_mean_cpu_s\":%.9f,"
                "\"warm_min_s\":%.9f,\"warm_min_cpu_s\":%.9f",
                t.first.wall, t.first.cpu, t.warm_calls, t.warm_mean.wall, t.warm_mean.cpu,
                t.warm_min.wall, t.warm_min.cpu);
  return buf;
}

}  // namespace quendra::bench

#endif  // QUENDRA_BENCH_ONCE_H_
