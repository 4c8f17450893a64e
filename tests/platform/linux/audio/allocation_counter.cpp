// Replaces the global operator new and delete with counting versions over malloc and free.
// The library's array and over-aligned forms call these, or (under a sanitizer) pair with their
// own delete, so they need no replacement.
#include "platform/linux/audio/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local uint64_t t_allocations = 0;
}  // namespace

uint64_t quorvel::testing::allocationsOnThisThread() {
  return t_allocations;
}

void* operator new(std::size_t size) {
  ++t_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++t_allocations;
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
