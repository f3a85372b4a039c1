// The player engine's data source in the program: a resource of type "XM"
// in the program's own file, read in place.
#pragma once

#include <windows.h>

#include <cstdint>

// The handle the reader's open returns; allocated with MemAlloc. The bytes
// belong to the system.
struct ResourceReader {
  int size;
  int position;
  const uint8_t* data;
};

// The five operations of the engine's ModuleIo. A missing resource opens as
// an empty one, so the loader finds no module in it.
void* ResourceReaderOpen(const char* name);
int ResourceReaderClose(void* handle);
int ResourceReaderRead(void* buffer, int count, void* handle);
int ResourceReaderSeek(void* handle, int32_t offset, int origin);
int32_t ResourceReaderTell(void* handle);

// Registers the five with the engine (xmSetIo).
void RegisterResourceReader();

// The file whose resources the reader opens: the program's own, or the one a
// test loaded as data. Returns the previous one; nullptr restores the program's.
HMODULE SetResourceFile(HMODULE module);
