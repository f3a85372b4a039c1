#include "core/registry_roots.h"

#include <cstring>

#include "core/text_scan.h"

const RegistryRoot kRegistryRoots[4] = {
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

const RegistryRoot* FindRegistryRoot(const char* keyPath) {
  char head[31];
  const char* end = FindChar(keyPath, '\\');
  size_t n = end ? size_t(end - keyPath) : strlen(keyPath);
  if (n > 30) n = 30;
  memcpy(head, keyPath, n);
  head[n] = '\0';
  for (const RegistryRoot& root : kRegistryRoots)
    if (lstrcmpiA(head, root.shortName) == 0 || lstrcmpiA(head, root.fullName) == 0) return &root;
  return nullptr;
}

HKEY LookupRootKey(const char* keyPath) {
  const RegistryRoot* root = FindRegistryRoot(keyPath);
  return root ? root->key : nullptr;
}
