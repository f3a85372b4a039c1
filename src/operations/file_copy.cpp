#include "operations/file_copy.h"

#include <cstring>

#include "core/messages.h"
#include "core/text.h"
#include "operations/expansion.h"

namespace {

bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool SearchFailedForReal(DWORD code) {
  return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND && code != ERROR_NO_MORE_FILES;
}

// Keeps the first failure of a run that goes on after it.
struct FirstFailure {
  DWORD code = ERROR_SUCCESS;
  void Note(DWORD c) {
    if (code == ERROR_SUCCESS) code = c ? c : ERROR_GEN_FAILURE;
  }
  int Result() const { return code == ERROR_SUCCESS ? 0 : (SetLastError(code), 1); }
};

// A read-only copy left by an earlier backup must not block this one.
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

unsigned CountMatches(const char* searchPath) {
  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileA(searchPath, &found));
  if (!search) return 0;
  unsigned n = 0;
  do ++n;
  while (FindNextFileA(search.get(), &found));
  return n;
}

}  // namespace

int CopyDirectory(ProgressWindow& window, const char* pattern, const char* destination, int recurse) {
  // The search runs on the full pattern rather than from inside its folder,
  // so a relative folder is not taken twice.
  const char* filePart = FindFileNamePart(pattern);
  const size_t directoryLength = size_t(filePart - pattern);
  PathText target;
  if (!target.Set(destination) || !target.EnsureSeparator()) return 1;

  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileA(pattern, &found));
  if (!search) {
    const DWORD code = GetLastError();
    return SearchFailedForReal(code) ? (SetLastError(code), 1) : 0;
  }
  DrainMessages();
  window.SetRange(0, 100);
  window.SetPosition(0);
  const unsigned count = CountMatches(pattern);
  unsigned done = 100;
  FirstFailure failure;
  do {
    const char* name = found.cFileName;
    if (IsDotEntry(name)) continue;
    const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory && !recurse) {
      done += 100;
      continue;
    }
    PathText source;
    PathText copyTo;
    const bool pathsFit = source.AppendBytes(pattern, directoryLength) && source.Append(name) &&
                          copyTo.Set(target.s) && copyTo.Append(name);
    if (!pathsFit) {
      failure.Note(ERROR_FILENAME_EXCED_RANGE);
    } else if (isDirectory) {
      PathText subPattern;
      if (!subPattern.Set(source.s) || !subPattern.Append("\\") || !subPattern.Append(filePart) ||
          !copyTo.Append("\\")) {
        failure.Note(ERROR_FILENAME_EXCED_RANGE);
      } else {
        CreateDirectoryPath(copyTo.s);
        if (CopyDirectory(window, subPattern.s, copyTo.s, 1) != 0) failure.Note(GetLastError());
      }
    } else {
      window.SetText(source.s);
      if (!CopyOverwriting(source.s, copyTo.s)) failure.Note(GetLastError());
    }
    if (count) window.SetPosition(int(done / count));
    done += 100;
  } while (FindNextFileA(search.get(), &found));
  const DWORD endCode = GetLastError();
  if (endCode != ERROR_NO_MORE_FILES) failure.Note(endCode);
  return failure.Result();
}

int CopyFiles(const char* pattern, const char* destination, int recurse) {
  int result = 1;
  DWORD code = ERROR_SUCCESS;
  {
    ProgressWindow window(IDS_CAPTION_COPYING);
    PathText expanded, target;
    if (expanded.Set(pattern) && ExpandVariables(expanded.s) && target.Set(destination)) {
      CreateDirectoryPath(target.s);
      result = CopyDirectory(window, expanded.s, target.s, recurse);
    }
    code = GetLastError();
  }  // destroying the window may change the last error
  SetLastError(code);
  return result;
}
