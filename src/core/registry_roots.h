// The four registry roots a template may name, short or in full. One table
// serves the key lookup, the full names written into exports and the key
// picker's tree.
#pragma once

#include <windows.h>

struct RegistryRoot {
  const char* shortName;
  const char* fullName;
  HKEY key;
};

extern const RegistryRoot kRegistryRoots[4];

// The root named by the first component of keyPath (up to its first "\\",
// at most 30 bytes looked at, any case), or null.
const RegistryRoot* FindRegistryRoot(const char* keyPath);
HKEY LookupRootKey(const char* keyPath);
