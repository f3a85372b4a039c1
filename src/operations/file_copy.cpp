#include "operations/file_copy.h"

#include <cstring>

#include "core/files.h"
#include "core/handles.h"
#include "core/messages.h"
#include "core/paths.h"
#include "operations/expansion.h"

namespace {

constexpr DWORD kKeptFolderAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

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

bool ReadFolderId(const char* path, FolderId* id) {
  FileHandle folder(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder || !GetFileInformationByHandle(folder.get(), &info)) return false;
  *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// The folders being copied, from the pattern's folder down to the current one.
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

unsigned CountMatches(const char* searchPath) {
  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileA(searchPath, &found));
  if (!search) return 0;
  unsigned n = 0;
  do ++n;
  while (FindNextFileA(search.get(), &found));
  return n;
}

// A read-only copy left in the destination must not block this one.
BOOL CopyOverwriting(const char* source, const char* target) {
  if (CopyFileA(source, target, FALSE)) return TRUE;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesA(target);
  if (code != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_READONLY))
    return SetLastError(code), FALSE;
  SetFileAttributesA(target, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if (CopyFileA(source, target, FALSE)) return TRUE;
  const DWORD again = GetLastError();
  SetFileAttributesA(target, attributes);
  return SetLastError(again), FALSE;
}

struct Copier {
  ProgressWindow& window;
  CopyReport* report;
  Ancestors ancestors;

  // Copies the matches of pattern (a folder part and a file part) into
  // target (ending in "\\"). Stops early only when the copy is aborted.
  void Folder(const char* pattern, const PathText& target, int recurse);
  void SubFolder(const PathText& source, const char* filePart, PathText copyTo, DWORD attributes);
};

void Copier::Folder(const char* pattern, const PathText& target, int recurse) {
  // The search runs on the full pattern rather than from inside its folder,
  // so a relative folder is not taken twice.
  const char* filePart = FindFileNamePart(pattern);
  const size_t folderLength = size_t(filePart - pattern);
  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileA(pattern, &found));
  if (!search) {
    const DWORD code = GetLastError();
    if (SearchFailedForReal(code)) report->Note(pattern, code);
    return;
  }
  DrainMessages();
  window.SetRange(0, 100);
  window.SetPosition(0);
  const unsigned count = CountMatches(pattern);
  unsigned done = 100;
  do {
    const char* name = found.cFileName;
    if (IsDotEntry(name)) continue;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && !recurse) {
      done += 100;
      continue;
    }
    PathText source, copyTo;
    if (!source.AppendBytes(pattern, folderLength) || !source.Append(name) || !copyTo.Set(target.s) ||
        !copyTo.Append(name)) {
      PathText shown;
      shown.AppendBytes(pattern, folderLength);
      report->Note(shown.Append(name) ? shown.s : pattern, ERROR_FILENAME_EXCED_RANGE);
    } else if (isFolder) {
      SubFolder(source, filePart, copyTo, found.dwFileAttributes);
    } else {
      window.SetText(source.s);
      if (!CopyOverwriting(source.s, copyTo.s)) {
        const DWORD code = GetLastError();
        if (DestinationFailed(code)) return report->Abort(source.s, code);
        report->Note(source.s, code);
      }
    }
    if (!report->complete) return;
    if (count) window.SetPosition(int(done / count));
    done += 100;
  } while (FindNextFileA(search.get(), &found));
  const DWORD endCode = GetLastError();
  if (endCode != ERROR_NO_MORE_FILES) report->Note(pattern, endCode);
}

void Copier::SubFolder(const PathText& source, const char* filePart, PathText copyTo, DWORD attributes) {
  // A folder link is not entered: it leads elsewhere, or back up the tree.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
  FolderId id;
  if (!ReadFolderId(source.s, &id) || ancestors.Contains(id) || ancestors.count == Ancestors::kMost) return;
  PathText subPattern;
  if (!subPattern.Set(source.s) || !subPattern.Append("\\") || !subPattern.Append(filePart) ||
      !copyTo.Append("\\"))
    return report->Note(source.s, ERROR_FILENAME_EXCED_RANGE);
  if (!CreateDirectoryA(copyTo.s, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD code = GetLastError();
    if (DestinationFailed(code)) return report->Abort(source.s, code);
    return report->Note(source.s, code);
  }
  ancestors.ids[ancestors.count++] = id;
  Folder(subPattern.s, copyTo, 1);
  --ancestors.count;
  if (attributes & kKeptFolderAttributes) SetFileAttributesA(copyTo.s, attributes & kKeptFolderAttributes);
}

}  // namespace

void CopyReport::Note(const char* item, DWORD failure) {
  if (failures++ == 0) {
    failedItem.Set(item);
    code = failure ? failure : ERROR_GEN_FAILURE;
  }
}

void CopyReport::Abort(const char* item, DWORD failure) {
  complete = false;
  failedItem.Set(item);
  code = failure ? failure : ERROR_GEN_FAILURE;
  ++failures;
}

int CopyFiles(const char* pattern, const char* destination, int recurse, CopyReport* report) {
  ProgressWindow window(IDS_CAPTION_COPYING);
  PathText expanded, target;
  if (!expanded.Set(pattern) || !ExpandVariables(expanded.s)) {
    report->Abort(pattern, GetLastError());
  } else if (!target.Set(destination) || !target.EnsureSeparator()) {
    report->Abort(pattern, ERROR_FILENAME_EXCED_RANGE);
  } else {
    CreateDirectoryPath(target.s);
    expanded.Refresh();
    Copier copier{window, report, {}};
    // The pattern's own folder counts as the first ancestor.
    PathText folder;
    folder.AppendBytes(expanded.s, size_t(FindFileNamePart(expanded.s) - expanded.s));
    RemoveTrailingSeparator(folder.s);
    if (folder.s[0] && ReadFolderId(folder.s, &copier.ancestors.ids[0])) copier.ancestors.count = 1;
    copier.Folder(expanded.s, target, recurse);
  }
  if (report->failures == 0) return 0;
  SetLastError(report->code);
  return 1;
}
