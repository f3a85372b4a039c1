// Copying the files a template entry names into the backup destination.
#pragma once

#include "operations/progress_window.h"

// Copies the matches of pattern (variables allowed) into destination, with
// sub-directories when recurse is 1. Returns 0 on success; non-zero with the
// last-error code set when a file could not be copied (the other files are
// still copied) or a path would not fit.
int CopyFiles(const char* pattern, const char* destination, int recurse);
// The recursive worker, on an expanded pattern.
int CopyDirectory(ProgressWindow& window, const char* pattern, const char* destination, int recurse);
