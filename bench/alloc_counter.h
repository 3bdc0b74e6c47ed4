// Counts every heap allocation made in this process, the plug-in module's included: the module
// carries its own C++ runtime, whose operator new ends in malloc, so counting happens there.
#pragma once

#include <cstdint>

extern "C" {
// Allocations (malloc, calloc, realloc, the aligned forms) since the process started.
std::uint64_t quill_bench_allocation_count(void);
}
