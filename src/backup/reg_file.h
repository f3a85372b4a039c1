// Reading a registration file as the registry editor imports it: REGEDIT4
// in the code page, or the editor's Unicode form ("Windows Registry Editor
// Version 5.00", UTF-16LE). Nothing is written to the registry.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/memory.h"

// A "[-key]" line deletes the key with its whole tree; a "[key]" line makes
// the key and sets the values that follow. The exporter writes both for
// each key, the deletion first, and they share one record here.
struct RegFileKey {
  wchar_t* path;  // the full name as the file writes it
  bool deleted;
  bool section;
};

// A value as the import stores it: strings as UTF-16LE with their
// terminator, whichever form the file has.
struct RegFileValue {
  size_t key;     // index into keys()
  wchar_t* name;  // empty for the default value ("@")
  DWORD type;
  uint8_t* data;
  DWORD size;
  bool remove;  // "name"=-
};

class RegFile {
 public:
  RegFile() = default;
  ~RegFile();
  RegFile(const RegFile&) = delete;
  RegFile& operator=(const RegFile&) = delete;

  // Reads a file's bytes. Returns 0, ERROR_INVALID_DATA when it has neither
  // header, or ERROR_NOT_ENOUGH_MEMORY. Lines of no known form are skipped,
  // as the editor skips them.
  DWORD Parse(const char* bytes, size_t size);
  const HeapList<RegFileKey>& keys() const { return keys_; }
  const HeapList<RegFileValue>& values() const { return values_; }

 private:
  bool ParseLine(wchar_t* line);
  bool ParseValue(wchar_t* line);

  HeapList<RegFileKey> keys_;
  HeapList<RegFileValue> values_;
  bool unicode_ = false;
  bool inSection_ = false;
};

// Key and value names compare without regard to case, as the registry does.
bool SameRegistryName(const wchar_t* a, const wchar_t* b);
