// Files and folders written aside, then put in place: a backup's copies, its
// .reg files, Restore.bat and log.txt are never rewritten in place, so a
// crash, a kill or a full disk leaves the last good one whole.
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/paths.h"

// Reads one line from an open file into a new block (MemFree it). CR, LF,
// CR LF and LF LF each end a line; at end of file the empty text comes back.
char* ReadLineFromFile(HANDLE file);

// Creates a new file holding exactly these bytes under the name plus
// ".tmp", flushes it and moves it over the name. Returns 0, or an error code
// (also the last error) with the old file untouched and no temporary left.
DWORD WriteFileAside(const char* path, const char* bytes, size_t size);
// A failure of writing rather than of opening: the disk full or failing.
bool IsWriteFailure(DWORD code);

// Reads a whole file into a new block with a terminating zero (MemFree it);
// null with the last error set when it cannot be read, or when it is larger
// than maxSize. *opened tells whether the file could be opened at all.
char* ReadWholeFile(const char* path, size_t* size, bool* opened = nullptr, size_t maxSize = 0x7FFFFFFE);
// Removes a folder with everything in it. Folder links (junctions, symbolic
// links) are removed without entering them. True when the folder is gone.
bool RemoveFolderTree(const char* path);
// A template's whole text (ReadWholeFile), refused with ERROR_INVALID_DATA
// when it holds a NUL byte: no text template does, and the byte would
// silently hide every line after it.
char* ReadTemplateText(const char* path, bool* opened);
bool FolderExists(const char* path);
// True when the folder (ending in "\\") can be listed and holds nothing.
bool FolderIsEmpty(const char* folder);

// A numbered copy of one backup entry, built in a folder beside it and put
// in place only once it is complete: "3.tmp\" while it is written, then
// "3\". The previous "3\" stays until the new one replaces it, and a run that
// died between the two renames is repaired by the next one.
class StagedFolder {
 public:
  StagedFolder() = default;
  ~StagedFolder() { Discard(); }
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;

  // Makes a fresh, empty staging folder for finalPath (no trailing "\\");
  // false with the last error set. With nothingToKeep (the folder it is in
  // held nothing when the run came to it, so no last good copy can be
  // there), the copy is made straight in finalPath when that name is free:
  // Publish then has nothing to rename, and Discard removes it.
  bool Begin(const char* finalPath, bool nothingToKeep = false);
  const char* path() const { return staged_.s; }  // ends in "\\"
  // Replaces the final folder with the staging folder. Returns 0, or an
  // error code (also the last error) with the previous copy kept.
  DWORD Publish();
  void Discard();

 private:
  PathText final_, staged_, old_;
  bool active_ = false;
  bool direct_ = false;  // staged_ is final_ with its separator
};
