// The program's memory comes from the process heap.
#include <windows.h>

#include "core/memory.h"

void* MemAlloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }

void* MemRealloc(void* block, size_t size) {
  if (!block) return MemAlloc(size);
  return HeapReAlloc(GetProcessHeap(), 0, block, size ? size : 1);
}

void MemFree(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
