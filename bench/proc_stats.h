// What the load benchmarks read from /proc about this process, its threads
// and other processes.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include <sys/types.h>

namespace korvela::bench {

struct ThreadUse {
  double cpu_seconds = 0;     // run time (schedstat, nanoseconds)
  unsigned long wakeups = 0;  // voluntary context switches: sleeps, each ended by a wake-up
  int threads = 0;
};

// This process's threads by name, or by kind (`by_kind`: the name without a
// trailing port or number, e.g. "RTP Packet Queu" for "RTP Packet Queue
// (3556)" cut to 15 characters).
std::map<std::string, ThreadUse> ThreadUses(bool by_kind = false);

// Entries of a /proc folder (e.g. "/proc/self/task": threads).
size_t CountEntries(const char* dir);

// User + system CPU seconds of a process, all its threads (clock ticks).
double ProcessCpuSeconds(pid_t pid);

}  // namespace korvela::bench
