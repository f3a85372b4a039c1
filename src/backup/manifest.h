// manifest.sha256: the SHA-256 of every file a backup run put in place, one
// line each, in the form `sha256sum -c` reads: lower-case hex, two spaces,
// the path relative to the destination with "/" between folders.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/memory.h"
#include "core/wide_text.h"

constexpr char kManifestName[] = "manifest.sha256";

struct Sha256 {
  uint8_t bytes[32] = {};
  bool operator==(const Sha256&) const = default;
};

// The value of a hex digit, or -1.
int HexDigitValue(wchar_t c);

// The SHA-256 of a file's bytes, read by its wide name. Returns 0 or the
// error code of the open or read that failed.
DWORD HashFile(const wchar_t* path, Sha256* digest);
// Appends the 64 lower-case hex digits.
void AppendHex(const Sha256& digest, TextBuffer* out);

// Visits every file below a folder, at any depth; folder links are not
// entered (a link back up would never end).
class FileVisitor {
 public:
  virtual ~FileVisitor() = default;
  // path holds the file's full name, relativeStart where the name the walk
  // was asked for begins. False stops the walk.
  virtual bool Visit(const WidePath& path, size_t relativeStart) = 0;
};
// folder ends in "\\"; the visitor's names begin relativeStart characters
// into each path (folder.length for names relative to the folder). Returns
// 0, or the code of a folder that could not be listed or a path too long to
// spell.
DWORD WalkFiles(const WidePath& folder, size_t relativeStart, FileVisitor& visitor);

// One line of a manifest; the path is relative, with "\\" between folders.
struct ManifestEntry {
  Sha256 digest;
  wchar_t* path;
};

// The lines of a manifest, sorted by path without regard to case.
class Manifest {
 public:
  Manifest() = default;
  ~Manifest();
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;
  // Reads destination's manifest (destination ends in "\\"). Returns 0, or
  // the error code when it cannot be read (ERROR_FILE_NOT_FOUND when there is
  // none); lines that are not in the manifest's form are skipped.
  DWORD Read(const char* destination);
  // The entry whose path equals path without regard to case, or null.
  const ManifestEntry* Find(const wchar_t* path) const;
  const HeapList<ManifestEntry>& entries() const { return entries_; }
  // Copies the path; false when memory runs out. Sort before Find.
  bool Add(const Sha256& digest, const wchar_t* path, size_t length);
  void Sort();

 private:
  HeapList<ManifestEntry> entries_;
};

// Writes destination's manifest at the end of a run: the lines of an earlier
// manifest for files the run did not rewrite, then a line for each file it
// wrote. written lists them relative to the destination, a line each:
// "Dir\\3\\" for a copied folder (every file in it), "Dir\\4.reg",
// "Restore.bat", "log.txt". Written aside, then put in place. Returns 0 or
// an error code.
DWORD WriteManifest(const char* destination, const char* written);
