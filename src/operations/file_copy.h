// Copying the files a template entry names into the backup destination.
#pragma once

#include <windows.h>

#include "core/paths.h"
#include "core/sha256.h"
#include "operations/progress_window.h"

// What a copy could not do. A file or folder that cannot be read is passed
// over and the rest is copied: the copy is still worth restoring, and the
// first such item is named here. A failure that makes the copy as a whole
// untrustworthy (the destination full or unwritable, the pattern unusable)
// clears `complete`: such a copy must not replace an earlier one.
struct CopyReport {
  PathText failedItem;  // the first source path that failed, or empty
  DWORD code = ERROR_SUCCESS;
  unsigned failures = 0;
  bool complete = true;
  // Every file copied has its digest taken on the way (when asked for).
  bool hashedAll = true;

  void Note(const wchar_t* item, DWORD failure);
  void Abort(const wchar_t* item, DWORD failure);
};

// Copies the matches of pattern (variables allowed) into destination, with
// sub-directories when recurse is 1. Returns 0 when everything was copied;
// non-zero with the report filled and its code as the last error. With
// progress, each file copied is counted and a stop aborts the copy. With
// digests, each file copied gets its SHA-256, named relative to destination
// (report->hashedAll tells whether every one did).
int CopyFiles(const char* pattern, const char* destination, int recurse, CopyReport* report,
              RunProgress* progress = nullptr, DigestSink* digests = nullptr);
