// Exporting a registry key with its whole sub-tree as a REGEDIT4 file.
#pragma once

#include "core/memory.h"
#include "core/paths.h"
#include "operations/progress_window.h"

// Exports keyText (variables and short roots allowed) into the file named by
// entryFolder without its final "\\" plus ".reg", written aside and then put
// in place. With useRegedit the system's registry editor writes the file.
// Returns 0 on success, 1 with the last-error code set and, when it is
// known, the key (or "key: value") that failed in failedKey.
int ExportRegistryKey(const char* keyText, const char* entryFolder, int useRegedit, PathText* failedKey = nullptr);

// Appends the blocks of a key and of every key below it. Returns 1 on success;
// 0 with the last-error code set when any key or value of the tree cannot be
// read, since a partial export would delete the unread keys on restore, or
// has a name that a line of the file cannot carry (ERROR_INVALID_NAME).
int WriteKeyText(ProgressWindow* window, const char* keyText, TextBuffer* file, PathText* failed = nullptr);

// The file name of an entry's export: entryFolder without its final "\\" plus ".reg".
bool EntryRegFileName(const char* entryFolder, PathText* fileName);
// Creates or replaces path with the whole text, written aside first. Returns
// 0, or 1 with the last-error code set and any earlier file left whole.
int WriteWholeFile(const char* path, const TextBuffer& text);
