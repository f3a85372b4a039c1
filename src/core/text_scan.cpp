#include "core/text_scan.h"

#include <cstring>

#include "core/code_page.h"

// The scans below take the thread's code page once, not per character: it is
// a thread-local, and under MinGW each access to one is a call.

char* TakeLine(char** cursor) {
  char* start = *cursor;
  if (!start || !*start) return nullptr;
  const CodePage& codePage = TextCodePage();
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
    p = codePage.Next(p);
  }
  if (!*p) return nullptr;  // an unterminated last line is never returned
  *p = '\0';
  *cursor = p + 1;
  return start;
}

char* NextLine(const char** cursor) {
  const char* start = *cursor;
  if (!start || !*start) return nullptr;
  const CodePage& codePage = TextCodePage();
  const char* p = start;
  while (*p && *p != '\n' && *p != '\r') p = codePage.Next(p);
  if (*p == '\r' && p[1] == '\n') ++p;
  *cursor = *p ? p + 1 : p;
  return const_cast<char*>(start);
}

const char* FindFileNamePart(const char* s) {
  const CodePage& codePage = TextCodePage();
  const char* part = s;
  for (const char* p = s; *p; p = codePage.Next(p))
    if (*p == '\\') part = p + 1;
  return part;
}
char* FindFileNamePart(char* s) { return const_cast<char*>(FindFileNamePart(static_cast<const char*>(s))); }

const char* FindLastChar(const char* s, char c) {
  const CodePage& codePage = TextCodePage();
  const char* found = nullptr;
  for (const char* p = s; *p; p = codePage.Next(p))
    if (*p == c) found = p;
  return found;
}
char* FindLastChar(char* s, char c) { return const_cast<char*>(FindLastChar(static_cast<const char*>(s), c)); }

const char* FindChar(const char* s, char c) {
  const CodePage& codePage = TextCodePage();
  const char* p = s;
  for (; *p; p = codePage.Next(p))
    if (*p == c) return p;
  return c == '\0' ? p : nullptr;
}
char* FindChar(char* s, char c) { return const_cast<char*>(FindChar(static_cast<const char*>(s), c)); }

static char* LastCharPosition(char* s) {
  const CodePage& codePage = TextCodePage();
  char* last = nullptr;
  for (char* p = s; *p; p = codePage.Next(p)) last = p;
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
