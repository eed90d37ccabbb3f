#pragma once

#include <cstddef>

// Memory for sample blocks. Every caller asks for 16-byte alignment, which the
// ordinary allocator already guarantees on the platforms we build for.
void* AlignedMalloc(std::size_t size, std::size_t alignment);
void AlignedFree(void* ptr);
bool IsAligned(const void* ptr, std::size_t alignment);
