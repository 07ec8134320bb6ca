// Heap allocations of this program so far: heap_counter.cpp replaces the
// global operator new of every benchmark it is linked into and counts calls.
#pragma once

#include <cstdint>

namespace korvela::bench {

uint64_t HeapAllocations();

}  // namespace korvela::bench
