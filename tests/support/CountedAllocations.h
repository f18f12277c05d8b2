#pragma once
// Counts the allocations made on chosen threads, for tests that prove a real-time path
// allocates nothing. A test program that uses it replaces the global operator new and
// delete and, where no sanitizer puts its own allocator in place, malloc, calloc and
// realloc: what a library allocates through them is counted too. Where no sanitizer
// puts its own in place, pthread_mutex_lock is replaced as well, so the locks the same
// threads take (a library's too) are counted beside.

#include <pthread.h>

namespace pulsewright::test {

// Counts what this thread allocates while on.
void countAllocationsHere(bool on);
// Counts what `thread` allocates, until stopAllocationWatch(); up to four threads.
void watchAllocationsOn(pthread_t thread);
void stopAllocationWatch();
int allocationsCounted();
// The mutexes locked on the same threads (0 where mutexCounted() is false).
int locksCounted();
// Zeroes both counts.
void resetAllocationsCounted();
// Whether malloc itself is counted (false under a sanitizer: only operator new is).
bool mallocCounted();
bool mutexCounted();

}  // namespace pulsewright::test
