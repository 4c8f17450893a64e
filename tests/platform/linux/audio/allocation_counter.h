// Counts heap allocations made through operator new on the calling thread, so a test can
// show that a path allocates nothing. The counting operator new lives in
// allocation_counter.cpp; link it into exactly one binary.
#pragma once

#include <cstdint>

namespace quorvel::testing {

// Allocations made on this thread since it started.
uint64_t allocationsOnThisThread();

// Allocations on this thread while the scope lives.
class AllocationScope {
 public:
  AllocationScope() : start_(allocationsOnThisThread()) {}
  uint64_t count() const { return allocationsOnThisThread() - start_; }

 private:
  uint64_t start_;
};

}  // namespace quorvel::testing
