#include "about/resource_reader.h"

#include <cstring>

#include "core/memory.h"
#include "xm_player.h"

namespace {

constexpr char kModuleResourceType[] = "XM";

HMODULE resourceFile = nullptr;  // not owned; nullptr: the program's own file

ResourceReader* Reader(void* handle) { return static_cast<ResourceReader*>(handle); }

}  // namespace

HMODULE SetResourceFile(HMODULE module) {
  const HMODULE previous = resourceFile;
  resourceFile = module;
  return previous;
}

void* ResourceReaderOpen(const char* name) {
  ResourceReader* reader = static_cast<ResourceReader*>(MemAlloc(sizeof(ResourceReader)));
  if (!reader) return nullptr;
  *reader = {};
  const HMODULE file = resourceFile ? resourceFile : GetModuleHandleA(nullptr);
  if (HRSRC found = FindResourceA(file, name, kModuleResourceType)) {
    const HGLOBAL loaded = LoadResource(file, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes) {
      reader->data = static_cast<const uint8_t*>(bytes);
      reader->size = int(SizeofResource(file, found));
    }
  }
  return reader;
}

int ResourceReaderClose(void* handle) {
  MemFree(handle);
  return 0;
}

int ResourceReaderRead(void* buffer, int count, void* handle) {
  ResourceReader& r = *Reader(handle);
  // The position stays within 0..size, so this never reads outside the data.
  if (count < 0) count = 0;
  if (count > r.size - r.position) count = r.size - r.position;
  if (count > 0) memcpy(buffer, r.data + r.position, size_t(count));
  r.position += count;
  return count;
}

int ResourceReaderSeek(void* handle, int32_t offset, int origin) {
  ResourceReader& r = *Reader(handle);
  int64_t target;
  switch (origin & 0xFF) {
    case 0: target = offset; break;
    case 1: target = int64_t(r.position) + offset; break;
    case 2: target = int64_t(r.size) + offset; break;
    default: return 0;
  }
  // Limited at both ends: a position before the data would make reads copy
  // from memory that is not the resource's.
  if (target > r.size) target = r.size;
  if (target < 0) target = 0;
  r.position = int(target);
  return 0;
}

int32_t ResourceReaderTell(void* handle) { return Reader(handle)->position; }

void RegisterResourceReader() {
  xmSetIo(ResourceReaderOpen, ResourceReaderClose, ResourceReaderRead, ResourceReaderSeek, ResourceReaderTell);
}
