#include "operations/file_copy.h"

#include <cwchar>

#include "core/files.h"
#include "core/handles.h"
#include "core/messages.h"
#include "core/wide_text.h"
#include "operations/expansion.h"

namespace {

constexpr DWORD kKeptFolderAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool SearchFailedForReal(DWORD code) {
  return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND && code != ERROR_NO_MORE_FILES;
}

// Failures of the destination rather than of one source file: nothing after
// them can be trusted to have been written.
bool DestinationFailed(DWORD code) {
  return IsWriteFailure(code) || code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY ||
         code == ERROR_DEV_NOT_EXIST;
}

// A folder's identity, to notice a folder link that leads back to one of its
// own parents (wine shows a Unix symbolic link as an ordinary folder).
struct FolderId {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FolderId&) const = default;
};

bool ReadFolderId(const wchar_t* path, FolderId* id) {
  FileHandle folder(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder || !GetFileInformationByHandle(folder.get(), &info)) return false;
  *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// The folders being copied, from the pattern's folder down to the current
// one. The pattern's folder is read when the copy first enters a sub-folder:
// a copy without sub-folders never needs it.
struct Ancestors {
  static constexpr int kMost = kPathSize / 2;  // each level adds at least "x\\"
  FolderId ids[kMost];
  int count = 0;
  bool Contains(const FolderId& id) const {
    for (int i = 0; i < count; ++i)
      if (ids[i] == id) return true;
    return false;
  }
};

// A read-only copy left in the destination must not block this one. The
// copy is first made as a new file, which is what it mostly is: asked to
// overwrite, wine looks for the target first, and a name that is not there
// costs a read of its whole folder. Any failure then takes the long way.
BOOL CopyOverwriting(const wchar_t* source, const wchar_t* target) {
  if (CopyFileW(source, target, TRUE) || CopyFileW(source, target, FALSE)) return TRUE;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesW(target);
  if (code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
    return SetLastError(code), FALSE;
  SetFileAttributesW(target, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if (CopyFileW(source, target, FALSE)) return TRUE;
  const DWORD again = GetLastError();
  SetFileAttributesW(target, attributes);
  return SetLastError(again), FALSE;
}

constexpr DWORD kCopyChunk = 512 * 1024;
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Copies a file as CopyFile does (its attributes, access and write times)
// into a new target, taking its SHA-256 from the bytes on their way, so the
// manifest need not read the copy again. False with nothing left behind
// when anything fails: the caller then takes the system's way.
bool CopyHashing(const wchar_t* source, const wchar_t* target, Sha256Hasher& hasher, char* chunk, Sha256* digest) {
  FileHandle from(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  // Not GetFileInformationByHandle: under wine its volume serial number
  // costs more than the copy of a small file.
  FILE_BASIC_INFO info;
  if (!from || !GetFileInformationByHandleEx(from.get(), FileBasicInfo, &info, sizeof info) || !hasher.Start())
    return false;
  const DWORD attributes = info.FileAttributes & kCopiedAttributes;
  FileHandle to(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!to) return false;
  bool copied = true;
  for (DWORD read = kCopyChunk; copied && read == kCopyChunk;) {
    DWORD written = 0;
    copied = ReadFile(from.get(), chunk, kCopyChunk, &read, nullptr) &&
             (read == 0 ||
              (hasher.Add(chunk, read) && WriteFile(to.get(), chunk, read, &written, nullptr) && written == read));
  }
  const FILETIME accessed = {DWORD(info.LastAccessTime.QuadPart), DWORD(info.LastAccessTime.QuadPart >> 32)};
  const FILETIME changed = {DWORD(info.LastWriteTime.QuadPart), DWORD(info.LastWriteTime.QuadPart >> 32)};
  copied = copied && SetFileTime(to.get(), nullptr, &accessed, &changed) && CloseHandle(to.release()) &&
           hasher.Finish(digest);
  if (!copied) {
    const DWORD code = GetLastError();
    to.reset();
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(target);
    SetLastError(code);
  }
  return copied;
}

// Copies by the system's wide names, so a file the code page cannot spell is
// found and copied under its own name.
struct Copier {
  RunProgress* progress;
  CopyReport* report;
  Ancestors ancestors;
  const wchar_t* top = nullptr;   // the pattern's folder, not yet in ancestors
  DigestSink* digests = nullptr;  // with names from targetStart on
  size_t targetStart = 0;
  Sha256Hasher hasher;
  HeapBlock chunk;

  BOOL Copy(const wchar_t* source, const wchar_t* target);

  void Note(const wchar_t* item, DWORD code) { report->Note(item, code); }
  // Copies the matches of pattern (a folder part and a file part) into
  // target (ending in "\\"). Stops early only when the copy is aborted.
  void Folder(const WidePath& pattern, const WidePath& target, int recurse);
  void SubFolder(const WidePath& source, const wchar_t* filePart, WidePath copyTo, DWORD attributes);
};

size_t FileNameStart(const WidePath& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.length; ++i)
    if (path.s[i] == L'\\') start = i + 1;
  return start;
}

void Copier::Folder(const WidePath& pattern, const WidePath& target, int recurse) {
  // The search runs on the full pattern rather than from inside its folder,
  // so a relative folder is not taken twice.
  const size_t folderLength = FileNameStart(pattern);
  const wchar_t* filePart = pattern.s + folderLength;
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(pattern.s, &found));
  if (!search) {
    const DWORD code = GetLastError();
    if (SearchFailedForReal(code)) Note(pattern.s, code);
    return;
  }
  do {
    const wchar_t* name = found.cFileName;
    if (IsDotEntry(name)) continue;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && !recurse) continue;
    WidePath source, copyTo;
    source.AppendChars(pattern.s, folderLength);
    if (!source.Append(name) || !copyTo.Set(target.s) || !copyTo.Append(name)) {
      Note(source.overflowed ? pattern.s : source.s, ERROR_FILENAME_EXCED_RANGE);
    } else if (isFolder) {
      SubFolder(source, filePart, copyTo, found.dwFileAttributes);
    } else {
      if (progress && progress->Stopping()) return report->Abort(source.s, ERROR_CANCELLED);
      if (!Copy(source.s, copyTo.s)) {
        const DWORD code = GetLastError();
        if (DestinationFailed(code)) return report->Abort(source.s, code);
        Note(source.s, code);
      } else if (progress) {
        progress->Done(IDS_CAPTION_COPYING, source.s);
      }
    }
    if (!report->complete) return;
  } while (FindNextFileW(search.get(), &found));
  const DWORD endCode = GetLastError();
  if (endCode != ERROR_NO_MORE_FILES) Note(pattern.s, endCode);
}

BOOL Copier::Copy(const wchar_t* source, const wchar_t* target) {
  // The buffer is taken at the first file: most entries of a template copy
  // a few files or none.
  if (digests && report->hashedAll && !chunk) {
    chunk.reset(MemAlloc(kCopyChunk));
    report->hashedAll = bool(chunk);
  }
  if (digests && report->hashedAll) {
    Sha256 digest;
    if (CopyHashing(source, target, hasher, chunk.get(), &digest)) {
      const size_t length = wcslen(target);
      report->hashedAll = digests->Add(digest, target + targetStart, length - targetStart);
      return TRUE;
    }
    // The system's copy says why, or overwrites what was there.
    report->hashedAll = false;
  }
  return CopyOverwriting(source, target);
}

void Copier::SubFolder(const WidePath& source, const wchar_t* filePart, WidePath copyTo, DWORD attributes) {
  // A folder link is not entered: it leads elsewhere, or back up the tree.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
  if (top) {
    // The pattern's own folder counts as the first ancestor.
    if (*top && ReadFolderId(top, &ancestors.ids[0])) ancestors.count = 1;
    top = nullptr;
  }
  FolderId id;
  if (!ReadFolderId(source.s, &id) || ancestors.Contains(id) || ancestors.count == Ancestors::kMost) return;
  WidePath subPattern = source;
  if (!subPattern.Append(L"\\") || !subPattern.Append(filePart) || !copyTo.Append(L"\\"))
    return Note(source.s, ERROR_FILENAME_EXCED_RANGE);
  if (!CreateDirectoryW(copyTo.s, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD code = GetLastError();
    if (DestinationFailed(code)) return report->Abort(source.s, code);
    return Note(source.s, code);
  }
  ancestors.ids[ancestors.count++] = id;
  Folder(subPattern, copyTo, 1);
  --ancestors.count;
  if (attributes & kKeptFolderAttributes) SetFileAttributesW(copyTo.s, attributes & kKeptFolderAttributes);
}

}  // namespace

void CopyReport::Note(const wchar_t* item, DWORD failure) {
  if (failures++ == 0) {
    ShowableText(item, &failedItem);
    code = failure ? failure : ERROR_GEN_FAILURE;
  }
}

void CopyReport::Abort(const wchar_t* item, DWORD failure) {
  complete = false;
  ShowableText(item, &failedItem);
  code = failure ? failure : ERROR_GEN_FAILURE;
  ++failures;
}

int CopyFiles(const char* pattern, const char* destination, int recurse, CopyReport* report, RunProgress* progress,
              DigestSink* digests) {
  WidePath expanded, target;
  if (!ExpandVariablesWide(pattern, &expanded)) {
    const DWORD code = GetLastError();
    report->complete = false;
    report->failedItem.Set(pattern);
    report->code = code;
    ++report->failures;
  } else if (!FromCodePage(destination, &target) || !target.EnsureSeparator()) {
    report->Abort(L"", ERROR_FILENAME_EXCED_RANGE);
  } else {
    PathText narrowTarget;
    narrowTarget.Set(destination);
    CreateDirectoryPath(narrowTarget.s);
    WidePath folder;
    folder.AppendChars(expanded.s, FileNameStart(expanded));
    if (folder.length > 1 && folder.s[folder.length - 1] == L'\\') folder.Truncate(folder.length - 1);
    Copier copier{progress, report, {}, folder.s};
    if (digests) {
      copier.digests = digests;
      copier.targetStart = target.length;
      report->hashedAll = true;
    }
    copier.Folder(expanded, target, recurse);
  }
  if (report->failures == 0) return 0;
  SetLastError(report->code);
  return 1;
}
