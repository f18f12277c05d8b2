#include "tests/support/CountedAllocations.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace pulsewright::test {
namespace {

thread_local bool tCountHere = false;
constexpr int kWatched = 4;
std::atomic<int> gWatchedCount{0};
std::atomic<pthread_t> gWatched[kWatched];
std::atomic<int> gCounted{0};
std::atomic<int> gLocks{0};

bool onCountedThread() {
  if (tCountHere) return true;
  const int watched = gWatchedCount.load(std::memory_order_acquire);
  if (watched == 0) return false;
  const pthread_t self = pthread_self();
  for (int i = 0; i < watched; ++i) {
    if (pthread_equal(self, gWatched[i].load(std::memory_order_relaxed)) != 0) return true;
  }
  return false;
}

}  // namespace

void noteAllocation() {
  if (onCountedThread()) gCounted.fetch_add(1);
}

void noteLock() {
  if (onCountedThread()) gLocks.fetch_add(1);
}

void countAllocationsHere(bool on) {
  tCountHere = on;
}

void watchAllocationsOn(pthread_t thread) {
  const int index = gWatchedCount.load();
  if (index >= kWatched) std::abort();
  gWatched[index].store(thread, std::memory_order_relaxed);
  gWatchedCount.store(index + 1, std::memory_order_release);
}

void stopAllocationWatch() {
  gWatchedCount.store(0);
}
int allocationsCounted() {
  return gCounted.load();
}
int locksCounted() {
  return gLocks.load();
}
void resetAllocationsCounted() {
  gCounted.store(0);
  gLocks.store(0);
}

}  // namespace pulsewright::test

// The replacements pair malloc with free, as the library's own do.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  pulsewright::test::noteAllocation();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
// Without it, the standard library's temporary buffers (std::stable_sort) would come from
// a sanitizer's allocator and go back to free() here.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  pulsewright::test::noteAllocation();
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PW_SANITIZED_ALLOCATOR 1
#endif
#endif
#if !defined(PW_SANITIZED_ALLOCATOR) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* malloc(std::size_t size) {
  pulsewright::test::noteAllocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  pulsewright::test::noteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  pulsewright::test::noteAllocation();
  return __libc_realloc(p, size);
}
// Libraries' calls reach this one too (the test programs export it), so a lock a library
// takes for itself is seen; the C library's own is looked up once, before main.
using MutexLock = int (*)(pthread_mutex_t*);
MutexLock realMutexLock() {
  static const auto real = reinterpret_cast<MutexLock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  return real;
}
[[gnu::constructor]] void findRealMutexLock() {
  realMutexLock();
}
int pthread_mutex_lock(pthread_mutex_t* mutex) {
  pulsewright::test::noteLock();
  return realMutexLock()(mutex);
}
}
namespace pulsewright::test {
bool mallocCounted() {
  return true;
}
bool mutexCounted() {
  return true;
}
}  // namespace pulsewright::test
#else
namespace pulsewright::test {
bool mallocCounted() {
  return false;
}
bool mutexCounted() {
  return false;
}
}  // namespace pulsewright::test
#endif
