#include "operations/registry_export.h"

#include <shellapi.h>

#include <cstring>

#include "core/handles.h"
#include "core/messages.h"
#include "core/text.h"
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

LONG WriteValues(ProgressWindow* window, HKEY key, DWORD valueCount, DWORD maxName, DWORD maxData,
                 TextBuffer* file) {
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

int ExportWithRegedit(const char* keyText, const PathText& fileName) {
  char parameters[520];
  const size_t needed = strlen(fileName.s) + strlen(keyText) + 9;
  if (needed > sizeof parameters) return SetLastError(ERROR_FILENAME_EXCED_RANGE), 1;
  strcpy(parameters, "/e \"");
  strcat(parameters, fileName.s);
  strcat(parameters, "\" \"");
  strcat(parameters, keyText);
  strcat(parameters, "\"");
  // A file left by an earlier backup must not pass for this export.
  if (!DeleteFileA(fileName.s) && GetLastError() != ERROR_FILE_NOT_FOUND) return 1;
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
      DeleteFileA(fileName.s);
      return SetLastError(ERROR_TIMEOUT), 1;
    }
    const DWORD waited = MsgWaitForMultipleObjects(1, process.addr(), FALSE, DWORD(deadline - now), QS_ALLINPUT);
    if (waited == WAIT_OBJECT_0) break;
    if (waited == WAIT_FAILED) return 1;
    DrainMessages();
  }
  WIN32_FILE_ATTRIBUTE_DATA written;
  if (!GetFileAttributesExA(fileName.s, GetFileExInfoStandard, &written)) return 1;
  if (written.nFileSizeLow == 0 && written.nFileSizeHigh == 0) return SetLastError(ERROR_FILE_NOT_FOUND), 1;
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
  FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 1;
  DWORD written = 0;
  if (!WriteFile(file.get(), text.text, text.length, &written, nullptr)) return 1;
  if (written != text.length) return SetLastError(ERROR_WRITE_FAULT), 1;
  if (!CloseHandle(file.release())) return 1;
  return 0;
}

int WriteKeyText(ProgressWindow* window, const char* keyText, TextBuffer* file) {
  const HKEY root = LookupRootKey(keyText);
  const char* slash = FindChar(keyText, '\\');
  if (!root) return FailWith(ERROR_INVALID_NAME);
  if (!slash) return FailWith(ERROR_INVALID_NAME);
  RegKey key;
  LONG status = RegOpenKeyExA(root, slash + 1, 0, KEY_READ, key.out());
  if (status != ERROR_SUCCESS) return FailWith(status);
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
    status = WriteValues(window, key.get(), valueCount, maxName, maxData, file);
    if (status != ERROR_SUCCESS) return FailWith(status);
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
    if (status != ERROR_SUCCESS) return FailWith(status);
    PathText child;
    if (!child.Set(keyText) || !child.EnsureSeparator() || !child.Append(name.get()))
      return FailWith(ERROR_FILENAME_EXCED_RANGE);
    if (!WriteKeyText(window, child.s, file)) return 0;
  }
  return 1;
}

int ExportRegistryKey(const char* keyText, const char* entryFolder, int useRegedit) {
  PathText fileName;
  if (!EntryRegFileName(entryFolder, &fileName)) return 1;
  if (useRegedit) return ExportWithRegedit(keyText, fileName);

  int result = 1;
  DWORD code = ERROR_SUCCESS;
  {
    ProgressWindow window(IDS_CAPTION_EXPORTING_REGISTRY);
    TextBuffer file;
    PathText key;
    TextBufferInit(&file);
    TextBufferAppend(&file, "REGEDIT4\r\n\r\n");
    if (PrepareKeyText(keyText, &key) && WriteKeyText(&window, key.s, &file))
      result = WriteWholeFile(fileName.s, file);
    code = GetLastError();
  }  // destroying the window may change the last error
  SetLastError(code);
  return result;
}
