#pragma once
// Counts the allocations made on chosen threads, for tests that prove a real-time path
// allocates nothing. A test program that uses it replaces the global operator new and
// delete and, where no sanitizer puts its own allocator in place, malloc, calloc and
// realloc: what a library allocates through them is counted too.

#include <pthread.h>

namespace pulsewright::test {

// Counts what this thread allocates while on.
void countAllocationsHere(bool on);
// Counts what `thread` allocates, until stopAllocationWatch(); up to four threads.
void watchAllocationsOn(pthread_t thread);
void stopAllocationWatch();
int allocationsCounted();
void resetAllocationsCounted();
// Whether malloc itself is counted (false under a sanitizer: only operator new is).
bool mallocCounted();

}  // namespace pulsewright::test
