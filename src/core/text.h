// Line, character and path helpers. All text is 8-bit in the system's
// multibyte code page; every scan steps by whole characters (CharNextA), so
// the trail byte of a double-byte character is never taken for "\\".
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "core/memory.h"

constexpr size_t kPathSize = MAX_PATH;  // 260 bytes, terminator included

// Destructive line cutter: terminates the line inside the text, advances the
// cursor and returns the line; a last line without a line end is not returned.
char* TakeLine(char** cursor);
// Non-destructive stepper: moves over one line and returns its start; counts
// an unterminated last line too.
char* NextLine(const char** cursor);
// Reads one line from an open file into a new block (MemFree it). CR, LF,
// CR LF and LF LF each end a line; at end of file the empty text comes back.
char* ReadLineFromFile(HANDLE file);

char* FindFileNamePart(char* s);
const char* FindFileNamePart(const char* s);
char* FindLastChar(char* s, char c);
const char* FindLastChar(const char* s, char c);
char* FindChar(char* s, char c);
const char* FindChar(const char* s, char c);
const char* FindCharNoCase(const char* s, char c);
int AddTrailingSeparator(char* s);
int RemoveTrailingSeparator(char* s);
// Creates a folder and its missing parents; 0 when the folder exists
// afterwards, else the code of the last failure (also the last error).
int CreateDirectoryPath(const char* path);
int CompareNoCase(const char* a, const char* b, size_t n);
const char* FindTextNoCase(const char* text, const char* word);
HKEY LookupRootKey(const char* keyPath);
const char* NextCharOrNull(const char* p);
DWORD SetLastErrorCode(DWORD code);
int GetItemTextLength(HWND dialog, int id);
char* GetItemTextCopy(HWND dialog, int id);

// Reads a text whose length is not known beforehand, such as a control
// item's: fill(text, room) writes at most room bytes, terminator included.
// The room starts at 256 bytes and doubles until two bytes are left over, so
// a double-byte character cut at the end cannot pass for the end of the
// text. A new block (MemFree it), or null when memory runs out.
template <typename Fill>
char* ReadWholeText(Fill fill) {
  for (size_t room = 256;; room *= 2) {
    char* text = static_cast<char*>(MemAlloc(room));
    if (!text) return nullptr;
    text[0] = '\0';
    fill(text, room);
    text[room - 1] = '\0';
    if (strlen(text) + 2 < room) return text;
    MemFree(text);
  }
}

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
