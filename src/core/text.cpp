#include "core/text.h"

#include <cstdio>
#include <cstring>

#include "core/memory.h"

char* TakeLine(char** cursor) {
  char* start = *cursor;
  if (!start || !*start) return nullptr;
  char* p = start;
  while (*p) {
    if (*p == '\n') break;
    if (*p == '\r') {
      if (p[1] == '\n') {
        *p = '\0';
        ++p;
      }
      break;
    }
    p = CharNextA(p);
  }
  if (!*p) return nullptr;  // an unterminated last line is never returned
  *p = '\0';
  *cursor = p + 1;
  return start;
}

char* NextLine(const char** cursor) {
  const char* start = *cursor;
  if (!start || !*start) return nullptr;
  const char* p = start;
  while (*p && *p != '\n' && *p != '\r') p = CharNextA(p);
  if (*p == '\r' && p[1] == '\n') ++p;
  *cursor = *p ? p + 1 : p;
  return const_cast<char*>(start);
}

static char* ShrinkLine(char* block, size_t length) {
  block[length] = '\0';
  void* shrunk = MemRealloc(block, length + 1);
  return static_cast<char*>(shrunk ? shrunk : block);
}

char* ReadLineFromFile(HANDLE file) {
  size_t capacity = 4096;
  char* block = static_cast<char*>(MemAlloc(capacity));
  if (!block) return nullptr;
  size_t length = 0;
  for (;;) {
    if (length + 1 >= capacity) {
      void* grown = MemRealloc(block, capacity + 4096);
      if (!grown) {
        MemFree(block);
        return nullptr;
      }
      block = static_cast<char*>(grown);
      capacity += 4096;
    }
    DWORD got = 0;
    if (!ReadFile(file, block + length, 1, &got, nullptr)) {
      MemFree(block);
      return nullptr;
    }
    if (got == 0) return ShrinkLine(block, length);
    const char c = block[length];
    if (c == '\r' || c == '\n') {
      char next = 0;
      if (!ReadFile(file, &next, 1, &got, nullptr)) {
        MemFree(block);
        return nullptr;
      }
      if (got == 1 && next != '\n') SetFilePointer(file, -1, nullptr, FILE_CURRENT);
      return ShrinkLine(block, length);
    }
    ++length;
  }
}

const char* FindFileNamePart(const char* s) {
  const char* part = s;
  for (const char* p = s; *p; p = CharNextA(p))
    if (*p == '\\') part = p + 1;
  return part;
}
char* FindFileNamePart(char* s) { return const_cast<char*>(FindFileNamePart(static_cast<const char*>(s))); }

const char* FindLastChar(const char* s, char c) {
  const char* found = nullptr;
  for (const char* p = s; *p; p = CharNextA(p))
    if (*p == c) found = p;
  return found;
}
char* FindLastChar(char* s, char c) { return const_cast<char*>(FindLastChar(static_cast<const char*>(s), c)); }

const char* FindChar(const char* s, char c) {
  const char* p = s;
  for (; *p; p = CharNextA(p))
    if (*p == c) return p;
  return c == '\0' ? p : nullptr;
}
char* FindChar(char* s, char c) { return const_cast<char*>(FindChar(static_cast<const char*>(s), c)); }

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

const char* FindCharNoCase(const char* s, char c) {
  const char wanted = LowerAscii(c);
  const char* p = s;
  for (; *p; p = CharNextA(p))
    if (LowerAscii(*p) == wanted) return p;
  return c == '\0' ? p : nullptr;
}

static char* LastCharPosition(char* s) {
  char* last = nullptr;
  for (char* p = s; *p; p = CharNextA(p)) last = p;
  return last;
}

int AddTrailingSeparator(char* s) {
  const char* last = LastCharPosition(s);
  if (!last || *last == '\\') return 0;
  const size_t n = strlen(s);
  s[n] = '\\';
  s[n + 1] = '\0';
  return 1;
}

int RemoveTrailingSeparator(char* s) {
  char* last = LastCharPosition(s);
  if (!last || *last != '\\') return 0;
  *last = '\0';
  return 1;
}

int CreateDirectoryPath(const char* path) {
  PathText copy;
  if (!copy.Set(path) || !copy.EnsureSeparator()) return ERROR_FILENAME_EXCED_RANGE;
  DWORD lastFailure = ERROR_PATH_NOT_FOUND;
  for (char* p = copy.s; *p; p = CharNextA(p)) {
    if (*p != '\\') continue;
    const char saved = p[1];
    p[1] = '\0';
    // Exists, drive root, denied: try the next prefix.
    if (!CreateDirectoryA(copy.s, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) lastFailure = GetLastError();
    p[1] = saved;
  }
  const DWORD attributes = GetFileAttributesA(copy.s);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  SetLastError(lastFailure);
  return int(lastFailure);
}

int CompareNoCase(const char* a, const char* b, size_t n) {
  char left[64];
  char right[64];
  HeapBlock bigLeft, bigRight;
  char* l = left;
  char* r = right;
  if (n >= sizeof left) {
    bigLeft.reset(MemAlloc(n + 1));
    bigRight.reset(MemAlloc(n + 1));
    if (!bigLeft || !bigRight) return 1;
    l = bigLeft.get();
    r = bigRight.get();
  }
  const size_t la = strnlen(a, n), lb = strnlen(b, n);
  memcpy(l, a, la);
  l[la] = '\0';
  memcpy(r, b, lb);
  r[lb] = '\0';
  return lstrcmpiA(l, r);
}

const char* FindTextNoCase(const char* text, const char* word) {
  if (!*word) return text;
  const size_t n = strlen(word);
  for (const char* p = FindCharNoCase(text, *word); p; p = FindCharNoCase(CharNextA(p), *word)) {
    if (!*p) return nullptr;
    if (CompareNoCase(p, word, n) == 0) return p;
  }
  return nullptr;
}

HKEY LookupRootKey(const char* keyPath) {
  static const struct {
    const char* shortName;
    const char* fullName;
    HKEY root;
  } kRoots[] = {
      {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKU", "HKEY_USERS", HKEY_USERS},
  };
  char head[31];
  const char* end = FindChar(keyPath, '\\');
  size_t n = end ? size_t(end - keyPath) : strlen(keyPath);
  if (n > 30) n = 30;
  memcpy(head, keyPath, n);
  head[n] = '\0';
  for (const auto& r : kRoots)
    if (lstrcmpiA(head, r.shortName) == 0 || lstrcmpiA(head, r.fullName) == 0) return r.root;
  return nullptr;
}

const char* NextCharOrNull(const char* p) { return p ? CharNextA(p) : nullptr; }

DWORD SetLastErrorCode(DWORD code) {
  SetLastError(code);
  return code;
}

int GetItemTextLength(HWND dialog, int id) {
  return int(SendDlgItemMessageA(dialog, id, WM_GETTEXTLENGTH, 0, 0));
}

char* GetItemTextCopy(HWND dialog, int id) {
  const int length = GetItemTextLength(dialog, id);
  char* text = static_cast<char*>(MemAlloc(size_t(length) + 2));
  if (!text) return nullptr;
  text[0] = '\0';
  GetDlgItemTextA(dialog, id, text, length + 2);
  return text;
}

bool PathText::AppendBytes(const char* bytes, size_t count) {
  if (length + count >= kPathSize) {
    overflowed = true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  memcpy(s + length, bytes, count);
  length += count;
  s[length] = '\0';
  return true;
}

bool PathText::Append(const char* text) { return AppendBytes(text, strlen(text)); }

bool PathText::AppendNumber(unsigned n) {
  char digits[16];
  return Append((snprintf(digits, sizeof digits, "%u", n), digits));
}

bool PathText::EnsureSeparator() {
  if (length + 1 >= kPathSize) {
    const char* last = nullptr;
    for (const char* p = s; *p; p = CharNextA(p)) last = p;
    if (!last || *last == '\\') return true;
    overflowed = true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  AddTrailingSeparator(s);
  length = strlen(s);
  return true;
}

void PathText::Refresh() { length = strnlen(s, kPathSize - 1); s[length] = '\0'; }
