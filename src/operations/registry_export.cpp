#include "operations/registry_export.h"

#include <shellapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "core/code_page.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/messages.h"
#include "core/registry_roots.h"
#include "core/wide_text.h"
#include "operations/expansion.h"
#include "operations/reg_format.h"

// The registry's own listing of a value: name, type and data in one answer.
// Under wine RegEnumValueW asks the server a second time for a value larger
// than its own small buffer; this asks once, into a buffer sized for the
// key's largest value.
using NtStatus = LONG;  // NTSTATUS, which the lean headers leave out
extern "C" {
struct ArkKeyValueFull {
  ULONG titleIndex, type, dataOffset, dataLength, nameLength;  // lengths in bytes
  WCHAR name[1];
};
NtStatus NTAPI NtEnumerateValueKey(HANDLE key, ULONG index, int informationClass, void* information, ULONG length,
                                   ULONG* resultLength);
ULONG NTAPI RtlNtStatusToDosError(NtStatus status);
}

namespace {

constexpr int kKeyValueFullInformation = 1;
constexpr NtStatus kBufferOverflow = NtStatus(0x80000005L), kBufferTooSmall = NtStatus(0xC0000023L);
constexpr DWORD kRegeditTimeoutMs = 10 * 60 * 1000;
constexpr DWORD kString = 1, kExpandString = 2, kMultiString = 7;

int FailWith(LONG code) {
  SetLastError(DWORD(code));
  return 0;
}

// Escaping scans the text by the characters of its encoding: UTF-8 has no
// lead bytes that could take an ASCII byte with them. The code page switched
// is the thread's own; REGEDIT4 keeps the system's and switches nothing.
class TextEncoding {
 public:
  explicit TextEncoding(bool utf8) : utf8_(utf8), saved_(utf8 ? TextCodePage() : CodePage(0, {})) {
    if (utf8) SetTextCodePage(CodePage(CP_UTF8, {}));
  }
  ~TextEncoding() {
    if (utf8_) SetTextCodePage(saved_);
  }
  TextEncoding(const TextEncoding&) = delete;
  TextEncoding& operator=(const TextEncoding&) = delete;

 private:
  bool utf8_;
  CodePage saved_;
};

// The root a wide key path starts with; *rest points at its "\\".
const RegistryRoot* FindRoot(const wchar_t* keyPath, const wchar_t** rest) {
  char head[32] = {};
  size_t n = 0;
  for (; keyPath[n] && keyPath[n] != L'\\' && n < 31; ++n) {
    if (keyPath[n] > 0x7E) return nullptr;
    head[n] = char(keyPath[n]);
  }
  *rest = wcschr(keyPath, L'\\');
  return *rest ? FindRegistryRoot(head) : nullptr;
}

void NameFailure(PathText* failed, const wchar_t* keyName, const wchar_t* valueName = nullptr) {
  if (!failed) return;
  ShowableText(keyName, failed);
  if (!valueName) return;
  PathText value;
  ShowableText(valueName, &value);
  if (failed->Append(": ")) failed->Append(value.s);
}

// A REG_SZ that the Unicode form writes as quoted text: whole UTF-16 with
// one terminating NUL, no other NUL and no line break.
bool QuotableWide(const uint8_t* data, DWORD size) {
  if (size < 2 || size % 2) return false;
  const auto* text = reinterpret_cast<const wchar_t*>(data);
  const size_t count = size / 2;
  if (text[count - 1] != L'\0') return false;
  for (size_t i = 0; i + 1 < count; ++i)
    if (text[i] == L'\0' || text[i] == L'\r' || text[i] == L'\n') return false;
  return true;
}

// The expanded key text without trailing "\\": "HKCU\\X\\" names the key X.
bool PrepareKeyText(const char* keyText, WidePath* out) {
  if (!ExpandVariablesWide(keyText, out)) return false;
  while (out->length > 0 && out->s[out->length - 1] == L'\\') out->Truncate(out->length - 1);
  return true;
}

// The editor gets the key as the own writer would read it, variables and
// root written out; it writes beside the old export, which it then replaces.
// A stop ends the editor and leaves the old export as it was.
int ExportWithRegedit(const char* keyText, const PathText& fileName, RunProgress* progress) {
  WidePath key, full, temporary;
  const wchar_t* rest = nullptr;
  if (!PrepareKeyText(keyText, &key)) return 1;
  const RegistryRoot* root = FindRoot(key.s, &rest);
  // A quote would end the editor's argument and start another of its own.
  if (!root || wcschr(key.s, L'"')) return SetLastError(ERROR_INVALID_NAME), 1;
  if (!FromCodePage(root->fullName, &full) || !full.Append(rest) || !FromCodePage(fileName.s, &temporary) ||
      !temporary.Append(L".tmp"))
    return SetLastError(ERROR_FILENAME_EXCED_RANGE), 1;
  wchar_t parameters[2 * kPathSize + 16];
  swprintf(parameters, sizeof parameters / sizeof *parameters, L"/e \"%ls\" \"%ls\"", temporary.s, full.s);
  if (!DeleteFileW(temporary.s) && GetLastError() != ERROR_FILE_NOT_FOUND) return 1;
  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  run.lpFile = L"regedit";
  run.lpParameters = parameters;
  run.nShow = SW_HIDE;
  if (!ShellExecuteExW(&run) || !run.hProcess) return 1;
  FileHandle process(run.hProcess);
  const ULONGLONG deadline = GetTickCount64() + kRegeditTimeoutMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const bool stopping = progress && progress->Stopping();
    if (now >= deadline || stopping) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
      DeleteFileW(temporary.s);
      return SetLastError(stopping ? ERROR_CANCELLED : ERROR_TIMEOUT), 1;
    }
    // Woken at least every 100 ms to look at the keyboard.
    const DWORD wait = DWORD(deadline - now < 100 ? deadline - now : 100);
    const DWORD waited = MsgWaitForMultipleObjects(1, process.addr(), FALSE, wait, QS_ALLINPUT);
    if (waited == WAIT_OBJECT_0) break;
    if (waited == WAIT_FAILED) return 1;
    DrainMessages();
  }
  WIN32_FILE_ATTRIBUTE_DATA written;
  if (!GetFileAttributesExW(temporary.s, GetFileExInfoStandard, &written)) return 1;
  if (written.nFileSizeLow == 0 && written.nFileSizeHigh == 0) {
    DeleteFileW(temporary.s);
    return SetLastError(ERROR_FILE_NOT_FOUND), 1;
  }
  WidePath target;
  if (!FromCodePage(fileName.s, &target) ||
      !MoveFileExW(temporary.s, target.s, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileW(temporary.s);
    return SetLastError(code), 1;
  }
  return 0;
}

}  // namespace

bool RegExport::AppendName(const wchar_t* name, size_t length, TextBuffer* out) {
  const uint32_t start = out->length;
  if (unicode_) {
    if (!AppendUtf8(name, length, out)) return SetLastError(ERROR_INVALID_NAME), false;
  } else if (!AppendInCodePage(name, length, out)) {
    return SetLastError(ERROR_NO_UNICODE_TRANSLATION), false;
  }
  const TextEncoding encoding(unicode_);
  if (!FitsValueLine(out->text ? out->text + start : "", out->length - start))
    return SetLastError(ERROR_INVALID_NAME), false;
  return true;
}

int RegExport::WriteValues(HKEY key, const wchar_t* keyName, DWORD valueCount, DWORD maxName, DWORD maxData,
                           PathText* failed) {
  ValueBuffers& buffers = values_;
  const DWORD room = DWORD(offsetof(ArkKeyValueFull, name)) + (maxName + 1) * sizeof(wchar_t) + maxData + 16;
  if (!buffers.Reserve(maxName + 1, room)) return ERROR_NOT_ENOUGH_MEMORY;
  TextBuffer name, data;
  for (DWORD i = 0; i < valueCount; ++i) {
    if (!helper_) DrainMessages();
    ULONG needed = 0;
    NtStatus status =
        NtEnumerateValueKey(key, i, kKeyValueFullInformation, buffers.data.get(), buffers.dataRoom, &needed);
    if (status == kBufferOverflow || status == kBufferTooSmall) {
      // The value grew since the key was asked about its largest.
      if (!buffers.Reserve(buffers.nameRoom, needed + 16)) return ERROR_NOT_ENOUGH_MEMORY;
      status = NtEnumerateValueKey(key, i, kKeyValueFullInformation, buffers.data.get(), buffers.dataRoom, &needed);
    }
    if (status < 0 || status == kBufferOverflow) return LONG(RtlNtStatusToDosError(status));
    const auto* value = reinterpret_cast<const ArkKeyValueFull*>(buffers.data.get());
    DWORD nameLength = value->nameLength / sizeof(wchar_t), dataSize = value->dataLength;
    const DWORD type = value->type;
    if (nameLength + 1 > buffers.nameRoom && !buffers.Reserve(nameLength + 1, buffers.dataRoom))
      return ERROR_NOT_ENOUGH_MEMORY;
    auto* nameBuffer = reinterpret_cast<wchar_t*>(buffers.name.get());
    memcpy(nameBuffer, value->name, nameLength * sizeof(wchar_t));
    nameBuffer[nameLength] = L'\0';
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffers.data.get()) + value->dataOffset;
    TextBufferTruncate(&name, 0);
    TextBufferTruncate(&data, 0);
    if (!AppendName(nameBuffer, nameLength, &name)) {
      const LONG code = LONG(GetLastError());
      NameFailure(failed, keyName, nameBuffer);
      return code;
    }
    const bool isString = type == kString || type == kExpandString || type == kMultiString;
    if (!unicode_ && isString) {
      // REGEDIT4 holds strings in the code page, as the ANSI registry
      // functions give them: only when they come back exactly.
      if (dataSize % 2 || !AppendInCodePage(reinterpret_cast<const wchar_t*>(bytes), dataSize / 2, &data))
        return NameFailure(failed, keyName, nameBuffer), ERROR_NO_UNICODE_TRANSLATION;
      bytes = reinterpret_cast<const uint8_t*>(data.text ? data.text : "");
      dataSize = data.length;
    } else if (unicode_ && type == kString && QuotableWide(bytes, dataSize) &&
               AppendUtf8(reinterpret_cast<const wchar_t*>(bytes), dataSize / 2, &data)) {
      bytes = reinterpret_cast<const uint8_t*>(data.text);
      dataSize = data.length;
    }
    const TextEncoding encoding(unicode_);
    AppendValueLine(&text_, name.text ? name.text : "", type, bytes, dataSize);
  }
  return text_.failed ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
}

int RegExport::WriteKey(RunProgress* progress, const wchar_t* keyPath, PathText* failed) {
  const wchar_t* rest = nullptr;
  const RegistryRoot* root = FindRoot(keyPath, &rest);
  if (!root) return FailWith(ERROR_INVALID_NAME);
  WidePath path, full;
  if (!path.Set(keyPath) || !FromCodePage(root->fullName, &full)) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  return WriteTree(progress, root->key, rest + 1, rest, &path, &full, failed, true);
}

// The sub-trees of an export's top key, each read by whichever helper thread
// takes it next into a text of its own. Under wine every registry call is a
// round trip to the one server process: a walk spends its time waiting for
// the answers, and two walks wait side by side. The texts are joined in the
// order of the keys, and the first sub-tree in that order that failed fails
// the export, as if it had been walked alone.
struct SubTreeWalk {
  static constexpr int kHelpers = 2;
  struct Task {
    wchar_t* name;
    char* text;
    uint32_t length;
    DWORD code;  // ERROR_SUCCESS, or why the sub-tree failed
    PathText failed;
    volatile LONG done;
  };

  // What a helper tells of its progress: keys counted, the last one named,
  // and a stop asked for by the run.
  class HelperProgress final : public RunProgress {
   public:
    explicit HelperProgress(SubTreeWalk& walk) : walk_(walk) {}
    void Done(int, const wchar_t* item) override {
      AcquireSRWLockExclusive(&walk_.lastLock);
      walk_.lastItem.Set(item);
      ReleaseSRWLockExclusive(&walk_.lastLock);
      InterlockedIncrement(&walk_.keysDone);
    }
    bool Stopping() override { return walk_.stop != 0; }

   private:
    SubTreeWalk& walk_;
  };

  static DWORD WINAPI Helper(void* parameter) {
    SubTreeWalk& walk = *static_cast<SubTreeWalk*>(parameter);
    SetTextCodePage(walk.codePage);
    RegExport reader(walk.unicode);
    reader.helper_ = true;
    HelperProgress progress(walk);
    WidePath path, full;
    for (LONG i; (i = InterlockedIncrement(&walk.next) - 1) < LONG(walk.tasks.size());) {
      Task& task = walk.tasks[size_t(i)];
      if (task.code == ERROR_SUCCESS && walk.stop) task.code = ERROR_CANCELLED;
      if (task.code == ERROR_SUCCESS) {
        path = *walk.path;
        full = *walk.full;
        path.Append(L"\\");
        path.Append(task.name);
        // "\\name" at the end of path is the key's name and the tail of its full name.
        const wchar_t* tail = path.s + walk.path->length;
        if (!reader.WriteTree(&progress, walk.key, tail + 1, tail, &path, &full, &task.failed))
          task.code = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
        task.text = reader.text_.text;
        task.length = reader.text_.length;
        reader.text_.text = nullptr;
        TextBufferFree(&reader.text_);
        reader.text_.failed = false;
      }
      InterlockedExchange(&task.done, 1);
      SetEvent(walk.wake.get());
    }
    return 0;
  }

  ~SubTreeWalk() {
    for (Task& task : tasks) {
      MemFree(task.name);
      MemFree(task.text);
    }
  }

  HKEY key;  // not owned
  const WidePath* path;
  const WidePath* full;  // the key's full name
  bool unicode;
  CodePage codePage = TextCodePage();
  HeapList<Task> tasks;
  FileHandle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  volatile LONG next = 0, stop = 0, keysDone = 0;
  SRWLOCK lastLock = SRWLOCK_INIT;
  WidePath lastItem;
};

int RegExport::WriteSubTrees(RunProgress* progress, HKEY key, DWORD subKeyCount, DWORD maxSubKey, const WidePath& path,
                             const WidePath& full, PathText* failed) {
  SubTreeWalk walk{key, &path, &full, unicode_};
  if (!walk.wake) return -1;
  // The names are listed here, in order; a name that cannot be listed or is
  // too long fails its sub-tree where the walk would have met it.
  if (maxSubKey + 1 > keyNameRoom_ && !ReserveKeyName(maxSubKey + 1)) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  for (DWORD j = 0; j < subKeyCount; ++j) {
    SubTreeWalk::Task task = {};
    DWORD length = 0;
    const LONG status = EnumSubKey(key, j, &length);
    if (status == ERROR_NOT_ENOUGH_MEMORY) return FailWith(status);
    if (status != ERROR_SUCCESS) {
      task.code = DWORD(status);
      NameFailure(&task.failed, full.s);
    } else if (path.length + 1 + length >= kPathSize) {
      task.code = ERROR_FILENAME_EXCED_RANGE;
      NameFailure(&task.failed, full.s, KeyName());
    }
    task.name = CopyWideText(KeyName(), task.code == ERROR_SUCCESS ? length : 0);
    if (!task.name || !walk.tasks.Push(task)) {
      MemFree(task.name);
      return FailWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (task.code != ERROR_SUCCESS) break;
  }
  // A name the code page cannot show is named with this text: loaded here,
  // so the helpers only read the catalogue's cache.
  LoadMessage(IDS_NOT_SHOWN_CHARACTERS);
  HANDLE helpers[SubTreeWalk::kHelpers];
  int started = 0;
  for (; started < SubTreeWalk::kHelpers && size_t(started) < walk.tasks.size(); ++started) {
    helpers[started] = CreateThread(nullptr, 0, SubTreeWalk::Helper, &walk, 0, nullptr);
    if (!helpers[started]) break;
  }
  if (started == 0) return -1;

  DWORD code = ERROR_SUCCESS;
  PathText* failedAt = nullptr;
  // The helpers' keys are counted here, on the thread of the windows.
  LONG keysShown = 0;
  WidePath item;
  const auto showKeys = [&] {
    const LONG keysDone = walk.keysDone;
    if (!progress || keysDone == keysShown) return;
    AcquireSRWLockExclusive(&walk.lastLock);
    item = walk.lastItem;
    ReleaseSRWLockExclusive(&walk.lastLock);
    for (; keysShown < keysDone; ++keysShown) progress->Done(IDS_CAPTION_EXPORTING_REGISTRY, item.s);
  };
  for (SubTreeWalk::Task& task : walk.tasks) {
    while (!task.done) {
      WaitForSingleObject(walk.wake.get(), progress ? 20 : INFINITE);
      showKeys();
      if (progress && progress->Stopping()) InterlockedExchange(&walk.stop, 1);
    }
    if (task.code != ERROR_SUCCESS) {
      code = task.code;
      failedAt = &task.failed;
      break;
    }
    TextBufferAppendBytes(&text_, task.text ? task.text : "", task.length);
    MemFree(task.text);
    task.text = nullptr;
  }
  InterlockedExchange(&walk.stop, 1);
  WaitForMultipleObjects(DWORD(started), helpers, TRUE, INFINITE);
  for (int i = 0; i < started; ++i) CloseHandle(helpers[i]);
  if (code != ERROR_SUCCESS) {
    if (failed && failedAt) *failed = *failedAt;
    return FailWith(LONG(code));
  }
  if (text_.failed) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  showKeys();
  return 1;
}

// Each key is opened by its name below its parent's handle, not by its
// whole path from the root: the registry then looks up one name, not every
// level again. On success path and full come back as they were given.
int RegExport::WriteTree(RunProgress* progress, HKEY parent, const wchar_t* name, const wchar_t* fullTail,
                         WidePath* path, WidePath* full, PathText* failed, bool top) {
  if (progress && progress->Stopping()) return FailWith(ERROR_CANCELLED);
  RegKey key;
  LONG status = RegOpenKeyExW(parent, name, 0, KEY_READ, key.out());
  if (status != ERROR_SUCCESS) {
    NameFailure(failed, path->s);
    return FailWith(status);
  }
  DWORD subKeyCount = 0, maxSubKey = 0, valueCount = 0, maxName = 0, maxData = 0;
  status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeyCount, &maxSubKey, nullptr, &valueCount,
                            &maxName, &maxData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return FailWith(status);
  const size_t fullStart = full->length, pathStart = path->length;
  if (!full->Append(fullTail)) return FailWith(ERROR_FILENAME_EXCED_RANGE);
  TextBuffer fullName;
  if (!AppendName(full->s, full->length, &fullName)) {
    const DWORD code = GetLastError();
    NameFailure(failed, full->s);
    return FailWith(code);
  }
  {
    const TextEncoding encoding(unicode_);
    AppendKeyHeader(&text_, fullName.text);
  }
  if (valueCount) {
    if (failed) failed->Clear();
    status = WriteValues(key.get(), full->s, valueCount, maxName, maxData, failed);
    if (status != ERROR_SUCCESS) {
      if (failed && !failed->length) NameFailure(failed, full->s);
      return FailWith(status);
    }
  }
  TextBufferAppendBytes(&text_, "\r\n", 2);
  if (text_.failed) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  if (progress) progress->Done(IDS_CAPTION_EXPORTING_REGISTRY, full->s);
  if (!subKeyCount) return full->Truncate(fullStart), 1;
  if (top && subKeyCount > 1) {
    const int written = WriteSubTrees(progress, key.get(), subKeyCount, maxSubKey, *path, *full, failed);
    if (written >= 0) return written ? (full->Truncate(fullStart), 1) : 0;
  }

  // One name buffer serves the whole tree: a key's name is in path before
  // its own sub-keys are listed.
  if (maxSubKey + 1 > keyNameRoom_ && !ReserveKeyName(maxSubKey + 1)) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  for (DWORD j = 0; j < subKeyCount; ++j) {
    DWORD length = 0;
    status = EnumSubKey(key.get(), j, &length);
    if (status == ERROR_NOT_ENOUGH_MEMORY) return FailWith(status);
    if (status != ERROR_SUCCESS) {
      NameFailure(failed, full->s);
      return FailWith(status);
    }
    if (!path->Append(L"\\") || !path->Append(KeyName())) {
      NameFailure(failed, full->s, KeyName());
      return FailWith(ERROR_FILENAME_EXCED_RANGE);
    }
    // "\\name" at the end of path is the child's name and the tail of its full name.
    const wchar_t* tail = path->s + pathStart;
    // A single sub-key of the top key is split in its place.
    if (!WriteTree(progress, key.get(), tail + 1, tail, path, full, failed, top && subKeyCount == 1)) return 0;
    path->Truncate(pathStart);
  }
  full->Truncate(fullStart);
  return 1;
}

LONG RegExport::EnumSubKey(HKEY key, DWORD index, DWORD* length) {
  *length = keyNameRoom_;
  LONG status = RegEnumKeyExW(key, index, KeyName(), length, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_MORE_DATA) return status;
  // A name longer than the key said its longest was: it grew meanwhile.
  if (!ReserveKeyName(keyNameRoom_ * 2 + 256)) return ERROR_NOT_ENOUGH_MEMORY;
  *length = keyNameRoom_;
  return RegEnumKeyExW(key, index, KeyName(), length, nullptr, nullptr, nullptr, nullptr);
}

bool RegExport::ReserveKeyName(DWORD chars) {
  keyName_.reset(MemAlloc(size_t(chars) * sizeof(wchar_t)));
  keyNameRoom_ = keyName_ ? chars : 0;
  return bool(keyName_);
}

bool RegExport::AppendLine(const char* text) {
  WidePath wide;
  if (!FromCodePage(text, &wide)) return false;
  TextBuffer line;
  if (unicode_ ? !AppendUtf8(wide.s, wide.length, &line) : !AppendInCodePage(wide.s, wide.length, &line)) return false;
  TextBufferAppendBytes(&text_, line.text ? line.text : "", line.length);
  return TextBufferAppend(&text_, "\r\n") != 0;
}

// The bytes go to their file with their digest taken on the way.
static int WriteHashed(const char* path, const void* bytes, size_t size, TakenDigest* digest) {
  if (digest) {
    Sha256Hasher hasher;
    digest->taken =
        size <= 0xFFFFFFFFu && hasher.Start() && hasher.Add(bytes, DWORD(size)) && hasher.Finish(&digest->value);
  }
  return WriteFileAside(path, static_cast<const char*>(bytes), size) == ERROR_SUCCESS ? 0 : 1;
}

int RegExport::WriteFile(const char* path, TakenDigest* digest) {
  if (text_.failed) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 1;
  TextBuffer whole;
  if (!unicode_) {
    TextBufferAppend(&whole, "REGEDIT4\r\n\r\n");
    TextBufferAppendBytes(&whole, text_.text ? text_.text : "", text_.length);
    if (whole.failed) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 1;
    return WriteHashed(path, whole.text, whole.length, digest);
  }
  // The Unicode form: a byte-order mark, then UTF-16LE, as the registry
  // editor itself writes it.
  TextBuffer utf8;
  TextBufferAppend(&utf8, "Windows Registry Editor Version 5.00\r\n\r\n");
  TextBufferAppendBytes(&utf8, text_.text ? text_.text : "", text_.length);
  if (utf8.failed) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 1;
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.text, int(utf8.length), nullptr, 0);
  HeapBlock wide(MemAlloc((size_t(units) + 1) * sizeof(wchar_t)));
  if (!wide) return SetLastError(ERROR_NOT_ENOUGH_MEMORY), 1;
  auto* units16 = reinterpret_cast<wchar_t*>(wide.get());
  units16[0] = 0xFEFF;
  MultiByteToWideChar(CP_UTF8, 0, utf8.text, int(utf8.length), units16 + 1, units);
  return WriteHashed(path, wide.get(), (size_t(units) + 1) * sizeof(wchar_t), digest);
}

bool EntryRegFileName(const char* entryFolder, PathText* fileName) {
  if (!fileName->Set(entryFolder)) return false;
  RemoveTrailingSeparator(fileName->s);
  fileName->Refresh();
  return fileName->Append(".reg");
}

int ExportRegistryKey(const char* keyText, const char* entryFolder, int useRegedit, PathText* failedKey,
                      RunProgress* progress, TakenDigest* digest) {
  PathText fileName;
  if (!EntryRegFileName(entryFolder, &fileName)) return 1;
  if (useRegedit) return ExportWithRegedit(keyText, fileName, progress);

  WidePath key;
  if (!PrepareKeyText(keyText, &key)) return 1;
  // REGEDIT4 first; the Unicode form when the code page cannot carry the key.
  for (bool unicode : {false, true}) {
    RegExport file(unicode);
    if (failedKey) failedKey->Clear();
    if (file.WriteKey(progress, key.s, failedKey)) return file.WriteFile(fileName.s, digest);
    if (GetLastError() != ERROR_NO_UNICODE_TRANSLATION) break;
  }
  // The key the template names is the entry itself: no need to name it twice.
  if (failedKey) {
    PathText top;
    ShowableText(key.s, &top);
    if (strcmp(top.s, failedKey->s) == 0) failedKey->Clear();
  }
  return 1;
}
