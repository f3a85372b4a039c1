// The system's own wide-character names, and the way back to the code page.
// Files, keys and values are read and copied by their wide names, so a name
// the code page cannot spell is still found and kept; text goes back into
// the code page only when it comes back exactly.
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/memory.h"
#include "core/paths.h"

// A wide path of at most kPathSize characters with its terminator. An
// append that does not fit leaves the path, sets ERROR_FILENAME_EXCED_RANGE
// and returns false.
struct WidePath {
  wchar_t s[kPathSize] = {};
  size_t length = 0;
  bool overflowed = false;  // some append did not fit since the last Set/Clear

  bool Set(const wchar_t* text) {
    Clear();
    return Append(text);
  }
  bool Append(const wchar_t* text);
  bool AppendChars(const wchar_t* chars, size_t count);
  bool EnsureSeparator();  // L"\\" after a non-empty path that lacks one
  void Clear() {
    s[0] = L'\0';
    length = 0;
    overflowed = false;
  }
  void Truncate(size_t n) {
    if (n < length) s[length = n] = L'\0';
  }
};

// Code-page text into a wide path; false when it does not fit.
bool AppendFromCodePage(const char* text, size_t length, WidePath* out);
inline bool FromCodePage(const char* text, WidePath* out) {
  out->Clear();
  size_t n = 0;
  while (text[n]) ++n;
  return AppendFromCodePage(text, n, out);
}
// Appends wide text converted into the code page, only when every character
// comes back exactly; false (nothing appended) otherwise. CP_OEMCP is the
// code page cmd reads a batch file in, which differs from the system's
// (CP_ACP) on Western systems: 850 or 437 beside 1252.
bool AppendInCodePage(const wchar_t* text, size_t length, TextBuffer* out, UINT codePage = CP_ACP);
bool InCodePage(const wchar_t* text, PathText* out, UINT codePage = CP_ACP);
// Appends wide text as UTF-8; false for text that is not whole UTF-16 (a lone
// surrogate).
bool AppendUtf8(const wchar_t* text, size_t length, TextBuffer* out);
// Wide text for a person to read in a log or a message: characters the code
// page cannot show become "?", and a note says so.
void ShowableText(const wchar_t* text, PathText* out);
// A new wide copy of length characters with a terminator, or null when
// memory runs out (MemFree it).
wchar_t* CopyWideText(const wchar_t* text, size_t length);
// Bytes of a code page (CP_ACP, CP_OEMCP, CP_UTF8) as new wide text with a terminator,
// or null when memory runs out (MemFree it); *length gets its characters.
wchar_t* WideFromBytes(UINT codePage, const char* bytes, size_t size, size_t* length = nullptr);
