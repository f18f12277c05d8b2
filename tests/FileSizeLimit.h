#pragma once
// Runs a write with files limited to a size, as a full disk would stop it: a file size
// limit applies even to root, and the write fails with "File too large".

#include <signal.h>
#include <sys/resource.h>

namespace pulsewright {

template <typename F>
auto withFileSizeLimit(rlim_t bytes, F write) {
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &small);
  const auto result = write();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  return result;
}

}  // namespace pulsewright
