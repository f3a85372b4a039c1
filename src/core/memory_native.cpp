// Natively, the portable text code allocates with the C library.
#include <cstdlib>

#include "core/memory.h"

void* MemAlloc(size_t size) { return malloc(size ? size : 1); }

void* MemRealloc(void* block, size_t size) { return realloc(block, size ? size : 1); }

void MemFree(void* block) { free(block); }
