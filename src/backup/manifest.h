// manifest.sha256: the SHA-256 of every file a backup run put in place, one
// line each, in the form `sha256sum -c` reads: lower-case hex, two spaces,
// the path relative to the destination with "/" between folders.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/memory.h"
#include "core/sha256.h"
#include "core/wide_text.h"

constexpr char kManifestName[] = "manifest.sha256";

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
class Manifest final : public DigestSink {
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
  bool Add(const Sha256& digest, const wchar_t* path, size_t length) override;
  void Sort();
  // After Sort: true when two paths are one without regard to case (two
  // copies went to one file).
  bool HasAlikePaths() const;

 private:
  HeapList<ManifestEntry> entries_;
};

// The digests a run took of the copies and .reg files it wrote, while
// writing them, so the manifest reads none of those files again.
class WrittenDigests {
 public:
  // Takes files (named relative to the copy) as everything the copied
  // folder holds; folder is relative to the destination and ends in "\\",
  // as its line in the written list. Lines come in the order of the written
  // list. False (and failed()) when memory runs out.
  bool AddFolder(const char* folder, const Manifest& files);
  bool AddFile(const char* file, const Sha256& digest);
  const Manifest& digests() const { return digests_; }
  const HeapList<WidePath>& lines() const { return lines_; }
  // Memory ran out or a name did not fit: the manifest reads every file.
  bool failed() const { return failed_; }

 private:
  Manifest digests_;
  HeapList<WidePath> lines_;
  bool failed_ = false;
};

// Writes destination's manifest at the end of a run: the lines of an earlier
// manifest for files the run did not rewrite, then a line for each file it
// wrote. written lists them relative to the destination, a line each:
// "Dir\\3\\" for a copied folder (every file in it), "Dir\\4.reg",
// "Restore.bat", "log.txt". What known has digests of is not read again. Written aside, then put in place. Returns 0 or
// an error code.
DWORD WriteManifest(const char* destination, const char* written, const WrittenDigests* known = nullptr);
