#include "core/files.h"

#include <cstring>
#include <cwchar>

#include "core/handles.h"
#include "core/memory.h"
#include "core/wide_text.h"

namespace {

DWORD Fail(DWORD code) {
  SetLastError(code);
  return code;
}

DWORD LastErrorOr(DWORD fallback) {
  const DWORD code = GetLastError();
  return code ? code : fallback;
}

bool IsFolderLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

static char* ShrinkLine(char* block, size_t length) {
  block[length] = '\0';
  void* shrunk = MemRealloc(block, length + 1);
  return static_cast<char*>(shrunk ? shrunk : block);
}

char* ReadLineFromFile(HANDLE file) {
  size_t capacity = 4096;
  char* block = static_cast<char*>(MemAlloc(capacity));
  if (!block) return nullptr;
  size_t length = 0;
  for (;;) {
    if (length + 1 >= capacity) {
      void* grown = MemRealloc(block, capacity + 4096);
      if (!grown) {
        MemFree(block);
        return nullptr;
      }
      block = static_cast<char*>(grown);
      capacity += 4096;
    }
    DWORD got = 0;
    if (!ReadFile(file, block + length, 1, &got, nullptr)) {
      MemFree(block);
      return nullptr;
    }
    if (got == 0) return ShrinkLine(block, length);
    const char c = block[length];
    if (c == '\r' || c == '\n') {
      char next = 0;
      if (!ReadFile(file, &next, 1, &got, nullptr)) {
        MemFree(block);
        return nullptr;
      }
      if (got == 1 && next != '\n') SetFilePointer(file, -1, nullptr, FILE_CURRENT);
      return ShrinkLine(block, length);
    }
    ++length;
  }
}

DWORD WriteFileAside(const char* path, const char* bytes, size_t size) {
  PathText temporary;
  if (!temporary.Set(path) || !temporary.Append(".tmp")) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (size > 0xFFFFFFFFu) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  DWORD code = ERROR_SUCCESS;
  {
    FileHandle file(CreateFileA(temporary.s, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Fail(LastErrorOr(ERROR_CANNOT_MAKE));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, DWORD(size), &written, nullptr))
      code = LastErrorOr(ERROR_WRITE_FAULT);
    else if (written != size)
      code = ERROR_DISK_FULL;
    else if (!FlushFileBuffers(file.get()))
      code = LastErrorOr(ERROR_WRITE_FAULT);
    if (!CloseHandle(file.release()) && code == ERROR_SUCCESS) code = LastErrorOr(ERROR_WRITE_FAULT);
  }
  if (code == ERROR_SUCCESS && !MoveFileExA(temporary.s, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    code = LastErrorOr(ERROR_ACCESS_DENIED);
  if (code != ERROR_SUCCESS) {
    DeleteFileA(temporary.s);
    return Fail(code);
  }
  return ERROR_SUCCESS;
}

char* ReadWholeFile(const char* path, size_t* size, bool* opened, size_t maxSize) {
  FileHandle file(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (opened) *opened = bool(file);
  if (!file) return nullptr;
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(file.get(), &length)) return nullptr;
  if (uint64_t(length.QuadPart) > maxSize) return SetLastError(ERROR_FILE_TOO_LARGE), nullptr;
  const DWORD wanted = DWORD(length.QuadPart);
  HeapBlock content(MemAlloc(size_t(wanted) + 1));
  if (!content) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr;
  DWORD got = 0;
  if (!ReadFile(file.get(), content.get(), wanted, &got, nullptr)) return nullptr;
  if (got != wanted) return SetLastError(ERROR_READ_FAULT), nullptr;
  content.get()[wanted] = '\0';
  *size = wanted;
  return static_cast<char*>(content.release());
}

bool IsWriteFailure(DWORD code) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == ERROR_WRITE_FAULT;
}

char* ReadTemplateText(const char* path, bool* opened) {
  size_t size = 0;
  HeapBlock content(ReadWholeFile(path, &size, opened));
  if (!content) return nullptr;
  if (memchr(content.get(), 0, size)) return SetLastError(ERROR_INVALID_DATA), nullptr;
  return static_cast<char*>(content.release());
}

bool FolderExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderIsEmpty(const char* folder) {
  PathText pattern;
  if (!pattern.Set(folder) || !pattern.Append("*")) return false;
  WIN32_FIND_DATAA found;
  FindHandle search(FindFirstFileExA(pattern.s, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
  if (!search) return false;
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) return false;
  } while (FindNextFileA(search.get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES;
}

// Removes a folder's contents by their wide names: a copy may hold names the
// code page cannot spell.
static void RemoveFolderContents(WidePath* folder) {
  const size_t folderLength = folder->length;
  if (!folder->Append(L"\\*")) return;
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(folder->s, &found));
  folder->Truncate(folderLength);
  if (!search) return;
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    if (!folder->Append(L"\\") || !folder->Append(found.cFileName)) {
      folder->Truncate(folderLength);
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      SetFileAttributesW(folder->s, found.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (IsFolderLink(found.dwFileAttributes)) {
      RemoveDirectoryW(folder->s);
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveFolderContents(folder);
      RemoveDirectoryW(folder->s);
    } else {
      DeleteFileW(folder->s);
    }
    folder->Truncate(folderLength);
  } while (FindNextFileW(search.get(), &found));
}

bool RemoveFolderTree(const char* path) {
  WidePath folder;
  if (!FromCodePage(path, &folder)) return false;
  while (folder.length > 1 && folder.s[folder.length - 1] == L'\\') folder.Truncate(folder.length - 1);
  RemoveFolderContents(&folder);
  SetFileAttributesW(folder.s, FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(folder.s);
  return !FolderExists(path);
}

// Under wine every name that does not exist costs a read of its whole
// folder (the name is looked for in every case): with thousands of entries
// in a template's folder, Begin and Publish look for as few as they can:
// a copy made straight in its place costs one such name, a staged one three.
bool StagedFolder::Begin(const char* finalPath, bool nothingToKeep) {
  Discard();
  if (!final_.Set(finalPath) || !staged_.Set(finalPath) || !staged_.Append(".tmp\\") || !old_.Set(finalPath) ||
      !old_.Append(".old"))
    return SetLastError(ERROR_FILENAME_EXCED_RANGE), false;
  if (nothingToKeep && CreateDirectoryA(final_.s, nullptr)) {
    // A run killed now leaves a part copy here, and no Restore.bat or log
    // of its own; the next run finds the folder in use and stages.
    staged_.Set(final_.s);
    staged_.Append("\\");
    direct_ = active_ = true;
    return true;
  }
  direct_ = false;
  if (GetFileAttributesA(old_.s) != INVALID_FILE_ATTRIBUTES) {
    // A run that died between its two renames left only the previous copy,
    // under the old name: put it back before anything else happens.
    if (!FolderExists(final_.s)) MoveFileA(old_.s, final_.s);
    RemoveFolderTree(old_.s);
  }
  if (!CreateDirectoryA(staged_.s, nullptr)) {
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    RemoveFolderTree(staged_.s);  // what a run that died left half written
    if (!CreateDirectoryA(staged_.s, nullptr)) return false;
  }
  active_ = true;
  return true;
}

DWORD StagedFolder::Publish() {
  if (!active_) return Fail(ERROR_INVALID_FUNCTION);
  if (direct_) {
    active_ = false;
    return ERROR_SUCCESS;
  }
  PathText staged = staged_;
  RemoveTrailingSeparator(staged.s);
  // The first copy of an entry is only renamed.
  if (MoveFileA(staged.s, final_.s)) {
    active_ = false;
    return ERROR_SUCCESS;
  }
  const DWORD firstCode = LastErrorOr(ERROR_ACCESS_DENIED);
  if (!FolderExists(final_.s)) return Fail(firstCode);
  if (!MoveFileA(final_.s, old_.s)) return Fail(LastErrorOr(ERROR_ACCESS_DENIED));
  if (!MoveFileA(staged.s, final_.s)) {
    const DWORD code = LastErrorOr(ERROR_ACCESS_DENIED);
    MoveFileA(old_.s, final_.s);
    return Fail(code);
  }
  active_ = false;
  RemoveFolderTree(old_.s);
  return ERROR_SUCCESS;
}

void StagedFolder::Discard() {
  if (!active_) return;
  const DWORD code = GetLastError();
  RemoveFolderTree(staged_.s);
  active_ = false;
  SetLastError(code);
}
