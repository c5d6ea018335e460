#pragma once

#include <cstddef>

namespace lsvtest {

// The test binary replaces the global operator new and delete to count the bytes the C++ heap
// holds: what the core allocates can be measured exactly, whatever the allocator and the machine.
std::size_t LiveHeapBytes();
// The highest LiveHeapBytes since the last ResetPeakHeapBytes.
std::size_t PeakHeapBytes();
void ResetPeakHeapBytes();

}  // namespace lsvtest
