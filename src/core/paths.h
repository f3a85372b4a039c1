// Paths of at most the system's path size, folders made with their
// parents, and the platform's locale-aware comparison.
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/text_scan.h"

constexpr size_t kPathSize = MAX_PATH;  // 260 bytes, terminator included

// A path of at most kPathSize bytes with its terminator. Appending what does
// not fit leaves the path as it was, sets ERROR_FILENAME_EXCED_RANGE and
// returns false, so no longer path is ever built.
struct PathText {
  char s[kPathSize] = {};
  size_t length = 0;
  bool overflowed = false;  // some append did not fit since the last Set/Clear

  PathText() = default;
  bool Set(const char* text) {
    Clear();
    return Append(text);
  }
  bool Append(const char* text);
  bool AppendBytes(const char* bytes, size_t count);
  bool AppendNumber(unsigned n);
  bool EnsureSeparator();  // "\\" after a non-empty text that lacks one
  void Clear() {
    s[0] = '\0';
    length = 0;
    overflowed = false;
  }
  void Truncate(size_t n) {
    if (n < length) s[length = n] = '\0';
  }
  void Refresh();  // after s was changed in place
};

// Creates a folder and its missing parents; 0 when the folder exists
// afterwards, else the code of the last failure (also the last error).
int CreateDirectoryPath(const char* path);
// Compares the first n bytes of a and b without regard to case, as the
// platform's locale sees them.
int CompareNoCase(const char* a, const char* b, size_t n);
