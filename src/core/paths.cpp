#include "core/paths.h"

#include <cstdio>
#include <cstring>

#include "core/code_page.h"
#include "core/memory.h"

int CreateDirectoryPath(const char* path) {
  PathText copy;
  if (!copy.Set(path) || !copy.EnsureSeparator()) return ERROR_FILENAME_EXCED_RANGE;
  // Mostly the folder or its parent is there already: a call or two instead
  // of one per level.
  const DWORD existing = GetFileAttributesA(copy.s);
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  if (existing == INVALID_FILE_ATTRIBUTES && CreateDirectoryA(copy.s, nullptr)) return 0;
  DWORD lastFailure = ERROR_PATH_NOT_FOUND;
  for (char* p = copy.s; *p; p = NextChar(p)) {
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
    for (const char* p = s; *p; p = NextChar(p)) last = p;
    if (!last || *last == '\\') return true;
    overflowed = true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  AddTrailingSeparator(s);
  length = strlen(s);
  return true;
}

void PathText::Refresh() {
  length = strnlen(s, kPathSize - 1);
  s[length] = '\0';
}
