#include "operations/expansion.h"

#include <shlobj.h>

#include <cstring>

#include "core/code_page.h"
#include "core/handles.h"
#include "core/registry_roots.h"
#include "core/interaction.h"
#include "core/memory.h"
#include "core/messages.h"
#include "core/notices.h"

namespace {

constexpr size_t kNameLimit = 30;  // names are compared on at most 30 bytes

struct FolderVariable {
  const char* name;
  int folderId;
};

constexpr FolderVariable kFolderVariables[] = {
    {"AppData", CSIDL_APPDATA},
    {"AllUsersAppData", CSIDL_COMMON_APPDATA},
    {"ProgramFilesCommon", CSIDL_PROGRAM_FILES_COMMON},
    {"HomePath", CSIDL_PROFILE},
    {"UserProfile", CSIDL_PROFILE},
    {"ProgramFiles", CSIDL_PROGRAM_FILES},
    {"SystemRoot", CSIDL_WINDOWS},
    {"Windir", CSIDL_WINDOWS},
};

// Copies at most kNameLimit bytes of [begin, end) as a terminated text.
void CutName(const char* begin, const char* end, char (&out)[kNameLimit + 1]) {
  size_t n = size_t(end - begin);
  if (n > kNameLimit) n = kNameLimit;
  memcpy(out, begin, n);
  out[n] = '\0';
}

size_t CharacterCount(const char* s) {
  size_t n = 0;
  for (const char* p = s; *p; p = NextChar(p)) ++n;
  return n;
}

bool IsRegistryReference(const char* name, const char* nameEnd) {
  const char* slash = nullptr;
  for (const char* p = name; p < nameEnd; p = NextChar(p))
    if (*p == '\\') {
      slash = p;
      break;
    }
  char head[kNameLimit + 1];
  CutName(name, slash ? slash : nameEnd, head);
  if (CharacterCount(head) == 4 && CompareNoCase(head, "HK", 2) == 0) return true;
  return CompareNoCase(head, "HKEY", 4) == 0;
}

void ShowReferenceFailure(const char* valueName, int captionId) {
  Tell(nullptr, valueName, captionId, MB_ICONERROR);
}

// Appends the text of the registry value a reference names. Failures show a
// message, contribute nothing and return false.
bool AppendRegistryValue(const char* name, size_t nameLength, PathText* out) {
  HeapBlock scratch(MemAlloc(nameLength + kNameLimit + 1));
  if (!scratch) return false;
  char* keyText = scratch.get();
  memcpy(keyText, name, nameLength);
  keyText[nameLength] = '\0';
  const HKEY root = LookupRootKey(keyText);
  const char* firstSlash = FindChar(keyText, '\\');
  if (!firstSlash) return false;  // a reference needs at least a root and a value name
  char* lastSlash = FindLastChar(keyText, '\\');
  const char* valueName = lastSlash + 1;
  *lastSlash = '\0';
  // With a single "\\" the value sits directly under the root.
  const char* keyPath = lastSlash == firstSlash ? "" : firstSlash + 1;
  RegKey key;
  if (!root || RegOpenKeyExA(root, keyPath, 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
    ShowReferenceFailure(valueName, IDS_CANT_OPEN_KEY_SKIP);
    return false;
  }
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    ShowReferenceFailure(valueName, IDS_CANT_READ_VALUE_SKIP);
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    ShowReferenceFailure(valueName, IDS_NOT_A_STRING_SKIP);
    return false;
  }
  HeapBlock data(MemAlloc(size_t(size) + 1));
  if (!data) return false;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.get()), &size) !=
      ERROR_SUCCESS) {
    ShowReferenceFailure(valueName, IDS_CANT_READ_VALUE_SKIP);
    return false;
  }
  data.get()[size] = '\0';
  return out->Append(data.get());
}

}  // namespace

int AppendSpecialFolder(int folderId, PathText* out) {
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)) || !items) return 0;
  char path[kPathSize] = {};
  const BOOL resolved = SHGetPathFromIDListA(items, path);
  CoTaskMemFree(items);
  if (!resolved) return 0;
  RemoveTrailingSeparator(path);  // a drive root such as "C:\\"
  return out->Append(path) ? 1 : 0;
}

const char* FullRootName(const char* keyPath) {
  const RegistryRoot* root = FindRegistryRoot(keyPath);
  return root ? root->fullName : nullptr;
}

int ExpandRootName(char* keyPath, size_t room) {
  const char* slash = FindChar(keyPath, '\\');
  const char* full = FullRootName(keyPath);
  if (!slash || !full) return 0;
  const size_t fullLength = strlen(full), restLength = strlen(slash);
  if (fullLength + restLength + 1 > room) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  memmove(keyPath + fullLength, slash, restLength + 1);
  memcpy(keyPath, full, fullLength);
  return 1;
}

int ExpandVariables(char* text) {
  if (!FindChar(text, '%')) return 1;
  PathText work;
  const char* scan = text;
  for (;;) {
    const char* open = FindChar(scan, '%');
    if (!open) {
      work.Append(scan);
      break;
    }
    const char* close = FindChar(NextChar(open), '%');
    work.AppendBytes(scan, size_t(open - scan));
    if (!close) {
      work.Append(open);
      break;
    }
    const char* name = open + 1;
    if (close == name) {
      work.Append("%");
    } else {
      // A name that brings nothing in would leave a path that means another
      // folder ("%Unknown%\*.*" is the whole drive): the entry fails instead.
      char cut[kNameLimit + 1];
      CutName(name, close, cut);
      bool expanded = false;
      for (const FolderVariable& v : kFolderVariables)
        if (lstrcmpiA(cut, v.name) == 0) expanded = AppendSpecialFolder(v.folderId, &work) != 0;
      if (IsRegistryReference(name, close)) expanded = AppendRegistryValue(name, size_t(close - name), &work);
      if (!expanded && !work.overflowed) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
      }
    }
    scan = close + 1;
  }
  if (work.overflowed) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  memcpy(text, work.s, work.length + 1);
  return 1;
}
