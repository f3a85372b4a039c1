#include "operations/registry_export.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/handles.h"
#include "core/registry_roots.h"
#include "core/messages.h"
#include "core/paths.h"
#include "operations/expansion.h"
#include "operations/reg_format.h"

namespace {

constexpr DWORD kRegeditTimeoutMs = 10 * 60 * 1000;

// Enumeration buffers of one key, grown when a value turns out larger than
// the key reported.
struct ValueBuffers {
  HeapBlock name, data;
  DWORD nameRoom = 0, dataRoom = 0;
  bool Reserve(DWORD nameChars, DWORD dataBytes) {
    if (nameChars > nameRoom) {
      name.reset(MemAlloc(size_t(nameChars) * 4 + 1));
      nameRoom = name ? nameChars * 4 + 1 : 0;
    }
    if (dataBytes > dataRoom) {
      data.reset(MemAlloc(size_t(dataBytes) * 4 + 1));
      dataRoom = data ? dataBytes * 4 + 1 : 0;
    }
    return name && data;
  }
};

void NameFailure(PathText* failed, const char* keyName, const char* valueName = nullptr) {
  if (!failed) return;
  failed->Set(keyName);
  if (valueName && failed->Append(": ")) failed->Append(valueName);
}

LONG WriteValues(ProgressWindow* window, HKEY key, const char* keyName, DWORD valueCount, DWORD maxName,
                 DWORD maxData, TextBuffer* file, PathText* failed) {
  ValueBuffers buffers;
  if (!buffers.Reserve(maxName + 1, maxData + 1)) return ERROR_NOT_ENOUGH_MEMORY;
  for (DWORD i = 0; i < valueCount; ++i) {
    DrainMessages();
    DWORD nameLength = buffers.nameRoom, dataSize = buffers.dataRoom, type = 0;
    LONG status = RegEnumValueA(key, i, buffers.name.get(), &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE*>(buffers.data.get()), &dataSize);
    if (status == ERROR_MORE_DATA) {
      if (!buffers.Reserve(buffers.nameRoom * 2, dataSize + 1)) return ERROR_NOT_ENOUGH_MEMORY;
      nameLength = buffers.nameRoom;
      dataSize = buffers.dataRoom;
      status = RegEnumValueA(key, i, buffers.name.get(), &nameLength, nullptr, &type,
                             reinterpret_cast<BYTE*>(buffers.data.get()), &dataSize);
    }
    if (status != ERROR_SUCCESS) return status;
    if (!FitsValueLine(buffers.name.get(), nameLength)) {
      NameFailure(failed, keyName, buffers.name.get());
      return ERROR_INVALID_NAME;
    }
    AppendValueLine(file, buffers.name.get(), type, reinterpret_cast<const uint8_t*>(buffers.data.get()),
                    dataSize);
    if (window) window->SetPosition(int(100ull * i / valueCount));
  }
  return file->text ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

int FailWith(LONG code) {
  SetLastError(DWORD(code));
  return 0;
}

// The expanded key text without trailing "\\": "HKCU\\X\\" names the key X.
bool PrepareKeyText(const char* keyText, PathText* out) {
  if (!out->Set(keyText) || !ExpandVariables(out->s)) return false;
  while (RemoveTrailingSeparator(out->s)) {
  }
  out->Refresh();
  return true;
}

// The editor gets the key as the own writer would read it, variables and
// root written out; it writes beside the old export, which it then replaces.
int ExportWithRegedit(const char* keyText, const PathText& fileName) {
  PathText key, temporary;
  if (!PrepareKeyText(keyText, &key)) return 1;
  // A quote would end the editor's argument and start another of its own.
  if (!ExpandRootName(key.s, kPathSize) || FindChar(key.s, '"')) return SetLastError(ERROR_INVALID_NAME), 1;
  if (!temporary.Set(fileName.s) || !temporary.Append(".tmp")) return SetLastError(ERROR_FILENAME_EXCED_RANGE), 1;
  char parameters[2 * kPathSize + 16];
  snprintf(parameters, sizeof parameters, "/e \"%s\" \"%s\"", temporary.s, key.s);
  if (!DeleteFileA(temporary.s) && GetLastError() != ERROR_FILE_NOT_FOUND) return 1;
  SHELLEXECUTEINFOA run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  run.lpFile = "regedit";
  run.lpParameters = parameters;
  run.nShow = SW_HIDE;
  if (!ShellExecuteExA(&run) || !run.hProcess) return 1;
  FileHandle process(run.hProcess);
  const ULONGLONG deadline = GetTickCount64() + kRegeditTimeoutMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
      DeleteFileA(temporary.s);
      return SetLastError(ERROR_TIMEOUT), 1;
    }
    const DWORD waited = MsgWaitForMultipleObjects(1, process.addr(), FALSE, DWORD(deadline - now), QS_ALLINPUT);
    if (waited == WAIT_OBJECT_0) break;
    if (waited == WAIT_FAILED) return 1;
    DrainMessages();
  }
  WIN32_FILE_ATTRIBUTE_DATA written;
  if (!GetFileAttributesExA(temporary.s, GetFileExInfoStandard, &written)) return 1;
  if (written.nFileSizeLow == 0 && written.nFileSizeHigh == 0) {
    DeleteFileA(temporary.s);
    return SetLastError(ERROR_FILE_NOT_FOUND), 1;
  }
  if (!MoveFileExA(temporary.s, fileName.s, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileA(temporary.s);
    return SetLastError(code), 1;
  }
  return 0;
}

}  // namespace

bool EntryRegFileName(const char* entryFolder, PathText* fileName) {
  if (!fileName->Set(entryFolder)) return false;
  RemoveTrailingSeparator(fileName->s);
  fileName->Refresh();
  return fileName->Append(".reg");
}

int WriteWholeFile(const char* path, const TextBuffer& text) {
  if (!text.text) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 1;
  return WriteFileAside(path, text.text, text.length) == ERROR_SUCCESS ? 0 : 1;
}

int WriteKeyText(ProgressWindow* window, const char* keyText, TextBuffer* file, PathText* failed) {
  const HKEY root = LookupRootKey(keyText);
  const char* slash = FindChar(keyText, '\\');
  if (!root) return FailWith(ERROR_INVALID_NAME);
  if (!slash) return FailWith(ERROR_INVALID_NAME);
  RegKey key;
  LONG status = RegOpenKeyExA(root, slash + 1, 0, KEY_READ, key.out());
  if (status != ERROR_SUCCESS) {
    NameFailure(failed, keyText);
    return FailWith(status);
  }
  DWORD subKeyCount = 0, maxSubKey = 0, valueCount = 0, maxName = 0, maxData = 0;
  status = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeyCount, &maxSubKey, nullptr, &valueCount,
                            &maxName, &maxData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return FailWith(status);
  if (window) {
    window->SetRange(0, 100);
    window->SetPosition(0);
  }
  PathText fullName;
  if (!fullName.Set(keyText) || !ExpandRootName(fullName.s, kPathSize)) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  fullName.Refresh();
  AppendKeyHeader(file, fullName.s);
  if (window) window->SetText(fullName.s);
  if (valueCount) {
    status = WriteValues(window, key.get(), fullName.s, valueCount, maxName, maxData, file, failed);
    if (status != ERROR_SUCCESS) {
      if (failed && !failed->length) NameFailure(failed, fullName.s);
      return FailWith(status);
    }
  }
  TextBufferAppendBytes(file, "\r\n", 2);
  if (!file->text) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  if (!subKeyCount) return 1;

  DWORD nameRoom = maxSubKey * 2 + 1;
  HeapBlock name(MemAlloc(nameRoom));
  if (!name) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  for (DWORD j = 0; j < subKeyCount; ++j) {
    DWORD length = nameRoom;
    status = RegEnumKeyExA(key.get(), j, name.get(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
      nameRoom = nameRoom * 2 + 256;
      name.reset(MemAlloc(nameRoom));
      if (!name) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
      length = nameRoom;
      status = RegEnumKeyExA(key.get(), j, name.get(), &length, nullptr, nullptr, nullptr, nullptr);
    }
    if (status != ERROR_SUCCESS) {
      NameFailure(failed, fullName.s);
      return FailWith(status);
    }
    PathText child;
    if (!FitsValueLine(name.get(), length) || !child.Set(keyText) || !child.EnsureSeparator() ||
        !child.Append(name.get())) {
      const DWORD code = child.overflowed ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME;
      if (failed && failed->Set(fullName.s) && failed->Append("\\")) failed->Append(name.get());
      return FailWith(code);
    }
    if (!WriteKeyText(window, child.s, file, failed)) return 0;
  }
  return 1;
}

int ExportRegistryKey(const char* keyText, const char* entryFolder, int useRegedit, PathText* failedKey) {
  PathText fileName;
  if (!EntryRegFileName(entryFolder, &fileName)) return 1;
  if (useRegedit) return ExportWithRegedit(keyText, fileName);

  ProgressWindow window(IDS_CAPTION_EXPORTING_REGISTRY);
  TextBuffer file;
  PathText key;
  TextBufferInit(&file);
  TextBufferAppend(&file, "REGEDIT4\r\n\r\n");
  if (!PrepareKeyText(keyText, &key) || !WriteKeyText(&window, key.s, &file, failedKey)) return 1;
  return WriteWholeFile(fileName.s, file);
}
