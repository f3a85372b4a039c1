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
#include "core/wide_text.h"

namespace {

constexpr size_t kNameLimit = 30;  // names are compared on at most 30 bytes

// A folder variable names a shell folder by its old-style id or, for the
// folders that have none, by its known-folder id.
struct FolderVariable {
  const char* name;
  int folderId;                // CSIDL_..., or -1
  const KNOWNFOLDERID* known;  // for folders without an old-style id
};

constexpr FolderVariable kFolderVariables[] = {
    {"AppData", CSIDL_APPDATA, nullptr},
    {"AllUsersAppData", CSIDL_COMMON_APPDATA, nullptr},
    {"ProgramData", CSIDL_COMMON_APPDATA, nullptr},
    {"ProgramFilesCommon", CSIDL_PROGRAM_FILES_COMMON, nullptr},
    {"HomePath", CSIDL_PROFILE, nullptr},
    {"UserProfile", CSIDL_PROFILE, nullptr},
    {"ProgramFiles", CSIDL_PROGRAM_FILES, nullptr},
    {"ProgramFilesX86", CSIDL_PROGRAM_FILESX86, nullptr},
    {"SystemRoot", CSIDL_WINDOWS, nullptr},
    {"Windir", CSIDL_WINDOWS, nullptr},
    {"System", CSIDL_SYSTEM, nullptr},
    {"LocalAppData", CSIDL_LOCAL_APPDATA, nullptr},
    {"LocalAppDataLow", -1, &FOLDERID_LocalAppDataLow},
    {"Documents", CSIDL_PERSONAL, nullptr},
    {"Personal", CSIDL_PERSONAL, nullptr},
    {"Desktop", CSIDL_DESKTOPDIRECTORY, nullptr},
    {"Favorites", CSIDL_FAVORITES, nullptr},
    {"StartMenu", CSIDL_STARTMENU, nullptr},
    {"Programs", CSIDL_PROGRAMS, nullptr},
    {"Startup", CSIDL_STARTUP, nullptr},
    {"SendTo", CSIDL_SENDTO, nullptr},
    {"Templates", CSIDL_TEMPLATES, nullptr},
    {"Music", CSIDL_MYMUSIC, nullptr},
    {"Pictures", CSIDL_MYPICTURES, nullptr},
    {"Videos", CSIDL_MYVIDEO, nullptr},
    {"Downloads", -1, &FOLDERID_Downloads},
    {"SavedGames", -1, &FOLDERID_SavedGames},
    {"Fonts", CSIDL_FONTS, nullptr},
    {"Public", -1, &FOLDERID_Public},
    {"CommonDocuments", CSIDL_COMMON_DOCUMENTS, nullptr},
    {"CommonStartMenu", CSIDL_COMMON_STARTMENU, nullptr},
    {"CommonDesktop", CSIDL_COMMON_DESKTOPDIRECTORY, nullptr},
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

void ShowReferenceFailure(const char* valueName, int captionId) { Tell(nullptr, valueName, captionId, MB_ICONERROR); }

// Appends the text of the registry value a reference names, read by its
// wide name. Failures show a message, contribute nothing and return false.
bool AppendRegistryValue(const char* name, size_t nameLength, WidePath* out) {
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
  WidePath wideKey, wideValue;
  RegKey key;
  if (!root || !FromCodePage(keyPath, &wideKey) || !FromCodePage(valueName, &wideValue) ||
      RegOpenKeyExW(root, wideKey.s, 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
    ShowReferenceFailure(valueName, IDS_CANT_OPEN_KEY_SKIP);
    return false;
  }
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.get(), wideValue.s, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    ShowReferenceFailure(valueName, IDS_CANT_READ_VALUE_SKIP);
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    ShowReferenceFailure(valueName, IDS_NOT_A_STRING_SKIP);
    return false;
  }
  HeapBlock data(MemAlloc(size_t(size) + sizeof(wchar_t)));
  if (!data) return false;
  if (RegQueryValueExW(key.get(), wideValue.s, nullptr, &type, reinterpret_cast<BYTE*>(data.get()), &size) !=
      ERROR_SUCCESS) {
    ShowReferenceFailure(valueName, IDS_CANT_READ_VALUE_SKIP);
    return false;
  }
  auto* text = reinterpret_cast<wchar_t*>(data.get());
  text[size / sizeof(wchar_t)] = L'\0';
  return out->Append(text);
}

// A folder's path without the trailing "\\" of a drive root such as "C:\\".
int AppendFolderPath(const wchar_t* path, WidePath* out) {
  size_t length = wcslen(path);
  if (length && path[length - 1] == L'\\') --length;
  return out->AppendChars(path, length) ? 1 : 0;
}

}  // namespace

int AppendSpecialFolder(int folderId, WidePath* out, const GUID* known) {
  if (folderId < 0) {
    wchar_t* path = nullptr;
    const bool found = known && SUCCEEDED(SHGetKnownFolderPath(*known, 0, nullptr, &path)) && path;
    const int appended = found ? AppendFolderPath(path, out) : 0;
    CoTaskMemFree(path);
    return appended;
  }
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)) || !items) return 0;
  wchar_t path[kPathSize] = {};
  const BOOL resolved = SHGetPathFromIDListW(items, path);
  CoTaskMemFree(items);
  if (!resolved) return 0;
  return AppendFolderPath(path, out);
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

int ExpandVariablesWide(const char* text, WidePath* out) {
  out->Clear();
  const char* scan = text;
  for (;;) {
    const char* open = FindChar(scan, '%');
    if (!open) return AppendFromCodePage(scan, strlen(scan), out) ? 1 : 0;
    const char* close = FindChar(NextChar(open), '%');
    if (!AppendFromCodePage(scan, size_t(open - scan), out)) return 0;
    if (!close) return AppendFromCodePage(open, strlen(open), out) ? 1 : 0;
    const char* name = open + 1;
    if (close == name) {
      if (!out->Append(L"%")) return 0;
    } else {
      // A name that brings nothing in would leave a path that means another
      // folder ("%Unknown%\*.*" is the whole drive): the entry fails instead.
      char cut[kNameLimit + 1];
      CutName(name, close, cut);
      bool expanded = false;
      for (const FolderVariable& v : kFolderVariables)
        if (lstrcmpiA(cut, v.name) == 0) expanded = AppendSpecialFolder(v.folderId, out, v.known) != 0;
      if (IsRegistryReference(name, close)) expanded = AppendRegistryValue(name, size_t(close - name), out);
      if (!expanded) {
        SetLastError(out->overflowed ? ERROR_FILENAME_EXCED_RANGE : ERROR_ENVVAR_NOT_FOUND);
        return 0;
      }
    }
    scan = close + 1;
  }
}

int ExpandVariables(char* text) {
  WidePath wide;
  if (!ExpandVariablesWide(text, &wide)) return 0;
  PathText narrow;
  if (!InCodePage(wide.s, &narrow)) {
    // What the variables bring in cannot be spelled in the code page.
    SetLastError(narrow.overflowed ? ERROR_FILENAME_EXCED_RANGE : ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  memcpy(text, narrow.s, narrow.length + 1);
  return 1;
}
