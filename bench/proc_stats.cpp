#include "proc_stats.h"

#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <unistd.h>

namespace korvela::bench {
namespace {

std::string FirstLine(const std::string& path) {
  char line[256] = {};
  if (FILE* f = std::fopen(path.c_str(), "r")) {
    if (std::fgets(line, sizeof line, f) == nullptr) line[0] = 0;
    std::fclose(f);
  }
  std::string s(line);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

unsigned long VoluntarySwitches(const std::string& status_path) {
  unsigned long n = 0;
  char line[256];
  if (FILE* f = std::fopen(status_path.c_str(), "r")) {
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "voluntary_ctxt_switches: %lu", &n) == 1) break;
    }
    std::fclose(f);
  }
  return n;
}

}  // namespace

std::map<std::string, ThreadUse> ThreadUses(bool by_kind) {
  std::map<std::string, ThreadUse> out;
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return out;
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    std::string name = FirstLine(base + "/comm");
    if (by_kind) {
      while (!name.empty() && std::strchr("0123456789 (),", name.back()) != nullptr) {
        name.pop_back();
      }
    }
    ThreadUse& use = out[name];
    use.cpu_seconds +=
        double(std::strtoull(FirstLine(base + "/schedstat").c_str(), nullptr, 10)) * 1e-9;
    use.wakeups += VoluntarySwitches(base + "/status");
    ++use.threads;
  }
  ::closedir(dir);
  return out;
}

size_t CountEntries(const char* dir) {
  size_t n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
    ::closedir(d);
  }
  return n;
}

double ProcessCpuSeconds(pid_t pid) {
  char stat[2048] = {};
  if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r")) {
    if (std::fgets(stat, sizeof stat, f) == nullptr) stat[0] = 0;
    std::fclose(f);
  }
  // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
  const char* rest = std::strrchr(stat, ')');
  unsigned long utime = 0, stime = 0;
  if (rest == nullptr ||
      std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                  &stime) != 2) {
    return 0;
  }
  return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

}  // namespace korvela::bench
